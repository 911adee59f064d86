#include "decode/PictureDecoder.h"

// The decoder realised with Media Foundation's H.264 transform, the one Windows brings
// along. The libraries are loaded at run time: the N editions of Windows lack them, and the
// rest of the program must run there all the same. The only unit of the Windows program
// that includes Media Foundation's headers.

#include "decode/DecoderFeed.h"
#include "decode/Macroblocks.h"

#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>

namespace {

// What the program takes from mfplat.dll.
struct TMfApi {
    HRESULT(WINAPI* Startup)(ULONG, DWORD) = nullptr;
    HRESULT(WINAPI* EnumEx)
    (GUID, UINT32, const MFT_REGISTER_TYPE_INFO*, const MFT_REGISTER_TYPE_INFO*, IMFActivate***,
     UINT32*) = nullptr;
    HRESULT(WINAPI* CreateSample)(IMFSample**) = nullptr;
    HRESULT(WINAPI* CreateMemoryBuffer)(DWORD, IMFMediaBuffer**) = nullptr;
    HRESULT(WINAPI* CreateMediaType)(IMFMediaType**) = nullptr;
    bool Ready = false;
};

template <typename T> void Load(HMODULE module, const char* name, T& function) {
    function = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loaded and started once for the process, and kept: a transform may outlive any one
// decoder's thread.
const TMfApi& MediaFoundation() {
    static const TMfApi api = [] {
        TMfApi a;
        const HMODULE module = LoadLibraryW(L"mfplat.dll");
        if (module == nullptr) {
            return a;
        }
        Load(module, "MFStartup", a.Startup);
        Load(module, "MFTEnumEx", a.EnumEx);
        Load(module, "MFCreateSample", a.CreateSample);
        Load(module, "MFCreateMemoryBuffer", a.CreateMemoryBuffer);
        Load(module, "MFCreateMediaType", a.CreateMediaType);
        a.Ready = a.Startup && a.EnumEx && a.CreateSample && a.CreateMemoryBuffer &&
                  a.CreateMediaType && SUCCEEDED(a.Startup(MF_VERSION, MFSTARTUP_NOSOCKET));
        return a;
    }();
    return api;
}

// COM on the calling thread, joined for good: the transform may be released on another
// thread after this one has ended.
void JoinCom() {
    thread_local const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (void)joined;
}

// An owned COM pointer.
template <typename T> class TCom {
  public:
    TCom() = default;
    TCom(const TCom&) = delete;
    TCom& operator=(const TCom&) = delete;
    ~TCom() { Reset(); }
    void Reset(T* p = nullptr) {
        if (FPointer) {
            FPointer->Release();
        }
        FPointer = p;
    }
    T* Get() const { return FPointer; }
    T* operator->() const { return FPointer; }
    T** Out() {
        Reset();
        return &FPointer;
    }
    explicit operator bool() const { return FPointer != nullptr; }

  private:
    T* FPointer = nullptr;
};

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The red and blue weights of a Y'CbCr matrix by its number in a stream
// (matrix_coefficients); false for the matrices that have none (RGB, YCgCo, unspecified).
bool MatrixWeights(std::uint32_t matrix, double& kr, double& kb) {
    static constexpr struct {
        std::uint32_t Matrix;
        double Kr;
        double Kb;
    } kWeights[] = {{1, 0.2126, 0.0722}, {4, 0.30, 0.11},   {5, 0.299, 0.114},
                    {6, 0.299, 0.114},   {7, 0.212, 0.087}, {9, 0.2627, 0.0593},
                    {10, 0.2627, 0.0593}};
    for (const auto& w : kWeights) {
        if (w.Matrix == matrix) {
            kr = w.Kr;
            kb = w.Kb;
            return true;
        }
    }
    return false;
}

// A stream's matrix number for Media Foundation's name of it; 0 for none.
std::uint32_t StreamMatrix(UINT32 transferMatrix) {
    switch (transferMatrix) {
    case MFVideoTransferMatrix_BT709:
        return 1;
    case MFVideoTransferMatrix_BT601:
        return 6;
    case MFVideoTransferMatrix_SMPTE240M:
        return 7;
    case MFVideoTransferMatrix_BT2020_10:
    case MFVideoTransferMatrix_BT2020_12:
        return 9;
    default:
        return 0;
    }
}

bool UnderWine() {
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Takes the samples of an 8-bit 4:2:0 picture from one Y'CbCr matrix to another, through
// R'G'B': luma gains a part of each colour difference, each colour difference a part of
// the other, and grey stays grey. Luma takes the chroma of its block.
void ChangeMatrix(TPicture& picture, std::uint32_t from, std::uint32_t to) {
    double kr0 = 0;
    double kb0 = 0;
    double kr1 = 0;
    double kb1 = 0;
    if (from == to || !MatrixWeights(from, kr0, kb0) || !MatrixWeights(to, kr1, kb1)) {
        return;
    }
    struct TYCbCr {
        double Y;
        double Cb;
        double Cr;
    };
    const auto convert = [&](const TYCbCr& in) {
        const double r = in.Y + 2 * (1 - kr0) * in.Cr;
        const double b = in.Y + 2 * (1 - kb0) * in.Cb;
        const double g = (in.Y - kr0 * r - kb0 * b) / (1 - kr0 - kb0);
        const double y = kr1 * r + (1 - kr1 - kb1) * g + kb1 * b;
        return TYCbCr{y, (b - y) / (2 * (1 - kb1)), (r - y) / (2 * (1 - kr1))};
    };
    const TYCbCr ofCb = convert({0, 1, 0});
    const TYCbCr ofCr = convert({0, 0, 1});
    // Luma's steps are smaller than chroma's in limited range: 219 against 224.
    const double lumaPerChroma = picture.FullRange ? 1.0 : 219.0 / 224.0;
    const auto sample = [](double value) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
    };
    const int chromaWidth = picture.PlaneWidth(1);
    std::vector<std::uint8_t>& luma = picture.Planes[0];
    std::vector<std::uint8_t>& cbs = picture.Planes[1];
    std::vector<std::uint8_t>& crs = picture.Planes[2];
    for (int y = 0; y < picture.Height; ++y) {
        for (int x = 0; x < picture.Width; ++x) {
            const std::size_t c = static_cast<std::size_t>(y / 2) * chromaWidth + x / 2;
            const double cb = cbs[c] - 128.0;
            const double cr = crs[c] - 128.0;
            std::uint8_t& l = luma[static_cast<std::size_t>(y) * picture.Width + x];
            l = sample(l + lumaPerChroma * (ofCb.Y * cb + ofCr.Y * cr));
        }
    }
    for (std::size_t c = 0; c < cbs.size(); ++c) {
        const double cb = cbs[c] - 128.0;
        const double cr = crs[c] - 128.0;
        cbs[c] = sample(128 + ofCb.Cb * cb + ofCr.Cb * cr);
        crs[c] = sample(128 + ofCb.Cr * cb + ofCr.Cr * cr);
    }
}

// Times of the samples: the display-order number made positive, for decoders that keep
// times only when they rise in display order.
constexpr LONGLONG kTimeBase = LONGLONG{1} << 40;

class TMfPictureDecoder final : public IPictureDecoder {
  public:
    TMfPictureDecoder(const TMfApi& api, bool macroblocks) : FApi(api), FMacroblocks(macroblocks) {
        JoinCom();
    }

    // A new transform rather than a flushed one, made with the first unit, whose sequence
    // parameter set then gives the input's size.
    void Reset() override {
        FTransform.Reset();
        FPending.clear();
        FOutstanding.clear();
        FFillers.clear();
        FLastTime = 0;
        FShape = TSequenceShape{};
        FHaveOutputType = false;
        FSliceReader.Reset();
    }

    bool Send(const TAccessUnitIn& unit, std::string& error) override {
        bool idr = false;
        Decodable(unit.Data, unit.Size, FUnit, idr, FShape);
        if (FUnit.empty()) {
            return true; // nothing the decoder could make a picture of
        }
        if (!WindowsDecoderTakes(FShape, error) || (!FTransform && !Create(error))) {
            return false;
        }
        const LONGLONG time = kTimeBase + unit.OutputOrder;
        TSent& sent = FOutstanding[time];
        sent = {unit.Tag, {}};
        if (FMacroblocks) {
            FSliceReader.Read(unit.Data, unit.Size, sent.Starts);
        }
        FLastTime = std::max(FLastTime, time);
        return Feed(FUnit.data(), FUnit.size(), time, error);
    }

    bool Drain(std::string& error) override {
        if (!FTransform) {
            return true;
        }
        FTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
        const HRESULT hr = FTransform->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
        if (FAILED(hr)) {
            error =
                "the H.264 decoder would not give out its last pictures (" + HresultText(hr) + ")";
            return false;
        }
        if (!Pull(error)) {
            return false;
        }
        // Some decoders (Wine's) keep the last pictures through a drain, whatever the
        // stream began with. IDR pictures of our own after them push them out, one for
        // each sent, as such a decoder works on several at once; their own pictures are
        // dropped. Anything still inside then is told as missing by the caller.
        if (HeldBack() > 0) {
            FillerIdr(FShape, FUnit);
        }
        for (int round = 0; round < 17 && HeldBack() > 0 && !FUnit.empty(); ++round) {
            FFillers.insert(++FLastTime);
            if (!Feed(FUnit.data(), FUnit.size(), FLastTime, error)) {
                return false;
            }
        }
        // Wine's decoder takes fields and gives nothing back for them.
        if (HeldBack() > 0 && FShape.Known && FShape.Interlaced) {
            error = Refusal(S_OK);
            return false;
        }
        return true;
    }

    bool Receive(const std::function<TPicture*(std::int64_t tag)>& place,
                 std::int64_t& tag) override {
        while (!FPending.empty()) {
            TOutput out = std::move(FPending.front());
            FPending.pop_front();
            tag = out.Sent.Tag;
            TPicture* picture = place(tag);
            if (picture == nullptr || Copy(out, *picture)) {
                return true;
            }
        }
        return false;
    }

  private:
    struct TArea {
        int Left = 0;
        int Top = 0;
        int Width = 0;
        int Height = 0;
    };
    // A unit sent whose picture did not come out yet: its tag, and where its slices begin.
    struct TSent {
        std::int64_t Tag = 0;
        std::vector<TSliceStart> Starts;
    };
    struct TOutput {
        TSent Sent;
        std::vector<std::uint8_t> Bytes; // NV12, FStride bytes a row, FRows rows of luma
    };

    std::size_t HeldBack() const { return FOutstanding.size(); }

    bool Create(std::string& error) {
        MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, MFVideoFormat_H264};
        IMFActivate** found = nullptr;
        UINT32 count = 0;
        HRESULT hr = FApi.EnumEx(MFT_CATEGORY_VIDEO_DECODER,
                                 MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER, &input,
                                 nullptr, &found, &count);
        if (SUCCEEDED(hr) && count > 0) {
            hr = found[0]->ActivateObject(IID_IMFTransform,
                                          reinterpret_cast<void**>(FTransform.Out()));
        }
        for (UINT32 i = 0; i < count; ++i) {
            found[i]->Release();
        }
        CoTaskMemFree(found);
        if (!FTransform) {
            error = kNoDecoderOnSystem;
            return false;
        }
        TCom<IMFMediaType> type;
        hr = FApi.CreateMediaType(type.Out());
        if (SUCCEEDED(hr)) {
            type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
            type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
            if (FShape.Known) {
                MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE,
                                   static_cast<UINT32>(FShape.CodedWidth),
                                   static_cast<UINT32>(FShape.CodedHeight));
            }
            hr = FTransform->SetInputType(0, type.Get(), 0);
        }
        if (FAILED(hr) || !ChooseOutput(error)) {
            if (error.empty()) {
                error = Refusal(hr);
            }
            FTransform.Reset();
            return false;
        }
        FTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
        FTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
        return true;
    }

    // NV12, which every H.264 decoder of Windows gives, and its layout.
    bool ChooseOutput(std::string& error) {
        for (DWORD i = 0;; ++i) {
            TCom<IMFMediaType> type;
            const HRESULT hr = FTransform->GetOutputAvailableType(0, i, type.Out());
            if (hr == MF_E_TRANSFORM_TYPE_NOT_SET) {
                return true; // told again once the stream's size is known
            }
            if (FAILED(hr)) {
                error = Refusal(hr);
                return false;
            }
            GUID subtype{};
            if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != MFVideoFormat_NV12) {
                continue;
            }
            const HRESULT set = FTransform->SetOutputType(0, type.Get(), 0);
            if (FAILED(set)) {
                error = Refusal(set);
                return false;
            }
            UINT32 width = 0;
            UINT32 height = 0;
            MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height);
            const auto stride =
                static_cast<INT32>(MFGetAttributeUINT32(type.Get(), MF_MT_DEFAULT_STRIDE, width));
            FWidth = static_cast<int>(width);
            FRows = static_cast<int>(height);
            FStride = std::max<int>(std::abs(stride), FWidth);
            FOutputMatrix = StreamMatrix(
                MFGetAttributeUINT32(type.Get(), MF_MT_YUV_MATRIX, MFVideoTransferMatrix_Unknown));
            // The part shown, where the decoder says: Windows' leaves the coded picture
            // whole, Wine's crops it itself (less on the left than asked, at times).
            MFVideoArea area{};
            FAreaKnown =
                SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE,
                                        reinterpret_cast<UINT8*>(&area), sizeof area, nullptr)) &&
                area.Area.cx > 0 && area.Area.cy > 0;
            FArea = {area.OffsetX.value, area.OffsetY.value, static_cast<int>(area.Area.cx),
                     static_cast<int>(area.Area.cy)};
            FHaveOutputType = true;
            return true;
        }
    }

    // What a refusal says: that the stream's pictures are interlaced, when they are, which
    // Wine's decoder does not decode (fields, and frames of field macroblock pairs alike).
    std::string Refusal(HRESULT hr) const {
        std::string text = "this system's H.264 decoder refused the stream";
        if (FShape.Known && FShape.Interlaced) {
            text += std::string(": it does not decode interlaced pictures (") +
                    (FShape.Mbaff ? "frames of field macroblock pairs, MBAFF" : "field pictures") +
                    ")";
        }
        return hr == S_OK ? text : text + " (" + HresultText(hr) + ")";
    }

    bool Feed(const std::uint8_t* data, std::size_t size, LONGLONG time, std::string& error) {
        TCom<IMFMediaBuffer> buffer;
        TCom<IMFSample> sample;
        BYTE* bytes = nullptr;
        if (FAILED(FApi.CreateMemoryBuffer(static_cast<DWORD>(size), buffer.Out())) ||
            FAILED(buffer->Lock(&bytes, nullptr, nullptr))) {
            throw std::bad_alloc();
        }
        std::memcpy(bytes, data, size);
        buffer->Unlock();
        buffer->SetCurrentLength(static_cast<DWORD>(size));
        if (FAILED(FApi.CreateSample(sample.Out())) || FAILED(sample->AddBuffer(buffer.Get()))) {
            throw std::bad_alloc();
        }
        sample->SetSampleTime(time);
        sample->SetSampleDuration(1);
        // A decoder that holds enough gives out first; once, for one that never takes more.
        for (int tries = 0;; ++tries) {
            const HRESULT hr = FTransform->ProcessInput(0, sample.Get(), 0);
            if (hr != MF_E_NOTACCEPTING || tries > 0) {
                if (FAILED(hr)) {
                    error = Refusal(hr);
                    return false;
                }
                return Pull(error);
            }
            if (!Pull(error)) {
                return false;
            }
        }
    }

    // Takes every picture that is ready.
    bool Pull(std::string& error) {
        for (;;) {
            MFT_OUTPUT_STREAM_INFO info{};
            if (FAILED(FTransform->GetOutputStreamInfo(0, &info))) {
                info.dwFlags = MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
            }
            TCom<IMFSample> ours;
            const bool provides = (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES |
                                                   MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
            if (!provides) {
                TCom<IMFMediaBuffer> buffer;
                const DWORD size = std::max<DWORD>(info.cbSize, 1);
                if (FAILED(FApi.CreateMemoryBuffer(size, buffer.Out())) ||
                    FAILED(FApi.CreateSample(ours.Out())) ||
                    FAILED(ours->AddBuffer(buffer.Get()))) {
                    throw std::bad_alloc();
                }
            }
            MFT_OUTPUT_DATA_BUFFER out{};
            out.pSample = ours.Get();
            DWORD status = 0;
            const HRESULT hr = FTransform->ProcessOutput(0, 1, &out, &status);
            if (out.pEvents) {
                out.pEvents->Release();
            }
            TCom<IMFSample> given;
            if (provides) {
                given.Reset(out.pSample);
            }
            if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
                return true;
            }
            if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
                if (!ChooseOutput(error)) {
                    return false;
                }
                continue;
            }
            if (FAILED(hr)) {
                error = Refusal(hr);
                return false;
            }
            if (out.pSample != nullptr && FHaveOutputType) {
                Keep(*out.pSample);
            }
        }
    }

    void Keep(IMFSample& sample) {
        LONGLONG time = -1;
        sample.GetSampleTime(&time);
        if (FFillers.erase(time) > 0 || FOutstanding.empty()) {
            return;
        }
        // Pictures come out in display order: one whose time was lost is the earliest
        // still inside, and those before a picture that came out never will.
        auto found = FOutstanding.find(time);
        if (found == FOutstanding.end()) {
            found = FOutstanding.begin();
        }
        TOutput out;
        out.Sent = std::move(found->second);
        FOutstanding.erase(FOutstanding.begin(), std::next(found));
        TCom<IMFMediaBuffer> buffer;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(sample.ConvertToContiguousBuffer(buffer.Out())) &&
            SUCCEEDED(buffer->Lock(&bytes, nullptr, &length))) {
            out.Bytes.assign(bytes, bytes + length);
            buffer->Unlock();
        }
        // Without its bytes, it is told as a picture that could not be copied.
        FPending.push_back(std::move(out));
    }

    // Where the picture lies in the decoder's output: the area the decoder gives, trimmed
    // to the stream's size on the left and at the top (the sides a decoder aligns; Wine's
    // crops less on the left than asked, at times). The stream's cropping of the coded
    // picture when the decoder names no area, or one smaller than the stream's picture (an
    // odd chroma size rounded down) that begins where the stream's does; else nothing.
    TArea Placement() const {
        if (!FShape.Known) {
            return FAreaKnown ? FArea : TArea{0, 0, FWidth, FRows};
        }
        if (FAreaKnown && FArea.Width >= FShape.Width && FArea.Height >= FShape.Height) {
            return {FArea.Left + FArea.Width - FShape.Width, FArea.Top + FArea.Height - FShape.Height,
                    FShape.Width, FShape.Height};
        }
        if (!FAreaKnown || (FArea.Left == FShape.CropLeft && FArea.Top == FShape.CropTop)) {
            return {FShape.CropLeft, FShape.CropTop, FShape.Width, FShape.Height};
        }
        return {};
    }

    // The matrix of the samples the decoder gives and the one the stream's samples are in,
    // when they differ: what the output type names, else, under Wine, BT.601, to which it
    // converts from the stream's matrix or, where the stream names none, from the one
    // GStreamer assumes for the picture's height.
    void Matrices(std::uint32_t& given, std::uint32_t& own) const {
        double kr = 0;
        double kb = 0;
        const bool named = MatrixWeights(FShape.Matrix, kr, kb);
        if (FOutputMatrix != 0) {
            given = FOutputMatrix;
            own = named ? FShape.Matrix : FOutputMatrix;
        } else if (UnderWine()) {
            given = 6;
            own = named ? FShape.Matrix : FShape.Height >= 2160 ? 9 : FShape.Height > 576 ? 1 : 6;
        } else {
            given = own = 0;
        }
    }

    // The cropped picture in planes of its own: NV12's interleaved chroma taken apart.
    bool Copy(const TOutput& out, TPicture& picture) const {
        const TArea place = Placement();
        const auto stride = static_cast<std::size_t>(FStride);
        const std::size_t lumaBytes = stride * static_cast<std::size_t>(FRows);
        if (place.Width <= 0 || place.Height <= 0 || place.Left < 0 || place.Top < 0 ||
            place.Left + place.Width > FWidth || place.Top + place.Height > FRows ||
            out.Bytes.size() < lumaBytes + stride * static_cast<std::size_t>((FRows + 1) / 2)) {
            return false;
        }
        picture = TPicture{};
        picture.Width = place.Width;
        picture.Height = place.Height;
        // The decoder's grey chroma of a monochrome picture is none of the stream's.
        picture.ChromaFormat = FShape.Known && FShape.ChromaFormat == 0 ? 0 : 1;
        picture.BitDepth = 8;
        picture.Interlaced = FShape.Interlaced;
        picture.FullRange = FShape.FullRange;
        picture.Bt709 = FShape.Bt709;
        picture.SarNum = FShape.SarNum;
        picture.SarDen = FShape.SarDen;
        const std::uint8_t* luma = out.Bytes.data();
        const std::uint8_t* chroma = luma + lumaBytes;
        for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
            const int w = picture.PlaneWidth(plane);
            const int h = picture.PlaneHeight(plane);
            std::vector<std::uint8_t>& target = picture.Planes[static_cast<std::size_t>(plane)];
            target.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            for (int y = 0; y < h; ++y) {
                std::uint8_t* row = target.data() + static_cast<std::size_t>(y) * w;
                if (plane == 0) {
                    std::memcpy(row, luma + (y + place.Top) * stride + place.Left,
                                static_cast<std::size_t>(w));
                    continue;
                }
                const std::uint8_t* pairs =
                    chroma + (y + place.Top / 2) * stride + place.Left / 2 * 2 + plane - 1;
                for (int x = 0; x < w; ++x) {
                    row[x] = pairs[2 * x];
                }
            }
        }
        if (FMacroblocks && FShape.Known) {
            // Where the macroblocks and slices lie, which needs nothing of the decoder.
            auto map = std::make_shared<TMacroblockMap>();
            map->WidthMbs = FShape.CodedWidth / 16;
            map->HeightMbs = FShape.CodedHeight / 16;
            map->Mbs.resize(static_cast<std::size_t>(map->WidthMbs) *
                            static_cast<std::size_t>(map->HeightMbs));
            AssignSlices(out.Sent.Starts, *map);
            map->CodingKnown = false;
            picture.Macroblocks = std::move(map);
        }
        if (picture.ChromaFormat == 1) {
            std::uint32_t given = 0;
            std::uint32_t own = 0;
            Matrices(given, own);
            ChangeMatrix(picture, given, own);
        }
        return true;
    }

    const TMfApi& FApi;
    TCom<IMFTransform> FTransform;
    bool FHaveOutputType = false;
    bool FAreaKnown = false;
    TArea FArea;
    int FWidth = 0;
    int FRows = 0;
    int FStride = 0;
    std::uint32_t FOutputMatrix = 0; // the stream's number of the matrix the output type names
    TSequenceShape FShape;
    std::deque<TOutput> FPending;
    // The units sent whose pictures did not come out yet, by their times.
    std::map<LONGLONG, TSent> FOutstanding;
    const bool FMacroblocks;
    TSliceStartReader FSliceReader;
    std::set<LONGLONG> FFillers;
    std::vector<std::uint8_t> FUnit; // the unit being sent, as the decoder gets it
    LONGLONG FLastTime = 0;
};

} // namespace

bool DecoderBuilt() {
    return true;
}

std::unique_ptr<IPictureDecoder> CreatePictureDecoder(int, bool macroblocks) {
    const TMfApi& api = MediaFoundation();
    if (!api.Ready) {
        return nullptr;
    }
    return std::make_unique<TMfPictureDecoder>(api, macroblocks);
}

std::string NoDecoderText() {
    return MediaFoundation().Ready ? std::string() : std::string(kNoDecoderOnSystem);
}
