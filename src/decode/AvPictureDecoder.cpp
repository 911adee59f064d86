#include "decode/DecoderModule.h"

#include "decode/AvHandles.h"
#include "decode/Macroblocks.h"
#include "decode/PngWriter.h"
#include "model/Levels.h"

// The decoder realised with libavcodec, and the colour conversion with libswscale: the
// decoder module (DecoderModule.h). The only unit of the program that includes their
// headers.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/motion_vector.h>
#include <libavutil/pixdesc.h>
#include <libavutil/video_enc_params.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <utility>

namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The sampling of a decoded frame in TPicture's terms; false for a layout it has no
// words for (packed or alpha formats, which an H.264 decoder does not give).
bool Describe(const AVFrame& frame, TPicture& picture) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr ||
        ((desc->flags & AV_PIX_FMT_FLAG_PLANAR) == 0 && desc->nb_components > 1) ||
        (desc->flags & AV_PIX_FMT_FLAG_BE) != 0 || (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0) {
        return false;
    }
    picture.Width = frame.width;
    picture.Height = frame.height;
    picture.BitDepth = desc->comp[0].depth;
    picture.Rgb = (desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    if (desc->nb_components == 1) {
        picture.ChromaFormat = 0;
    } else if (desc->log2_chroma_w == 1) {
        picture.ChromaFormat = desc->log2_chroma_h == 1 ? 1 : 2;
    } else {
        picture.ChromaFormat = 3;
    }
    picture.SarNum = frame.sample_aspect_ratio.num;
    picture.SarDen = frame.sample_aspect_ratio.den;
    picture.Interlaced = frame.interlaced_frame != 0;
    picture.TopFieldFirst = frame.top_field_first != 0;
    picture.Corrupt = (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0;
    // The library's bits are the same as ours.
    static_assert(FF_DECODE_ERROR_INVALID_BITSTREAM == kDecodeInvalidData &&
                  FF_DECODE_ERROR_MISSING_REFERENCE == kDecodeMissingReference &&
                  FF_DECODE_ERROR_CONCEALMENT_ACTIVE == kDecodeConcealed &&
                  FF_DECODE_ERROR_DECODE_SLICES == kDecodeSlicesMissing);
    picture.DecodeErrors = static_cast<unsigned>(frame.decode_error_flags) & 15u;
    picture.FullRange = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                        format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    picture.Bt709 = frame.colorspace == AVCOL_SPC_BT709;
    return true;
}

bool CopyPlanes(const AVFrame& frame, TPicture& picture) {
    if (!Describe(frame, picture)) {
        return false;
    }
    const int bytes = picture.BytesPerSample();
    for (int plane = 0; plane < 3; ++plane) {
        std::vector<std::uint8_t>& out = picture.Planes[static_cast<std::size_t>(plane)];
        if (plane >= picture.PlaneCount()) {
            out.clear();
            continue;
        }
        const auto row = static_cast<std::size_t>(picture.PlaneWidth(plane) * bytes);
        const auto rows = static_cast<std::size_t>(picture.PlaneHeight(plane));
        out.resize(row * rows);
        for (std::size_t y = 0; y < rows; ++y) {
            std::memcpy(out.data() + y * row,
                        frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane],
                        row);
        }
    }
    return true;
}

// The macroblocks' size from the QP blocks, which cover the coded frame; from the frame's
// size when the decoder gave none.
void SizeMap(const AVFrame& frame, const AVVideoEncParams* qps, TMacroblockMap& map) {
    map.WidthMbs = (frame.width + 15) / 16;
    map.HeightMbs = (frame.height + 15) / 16;
    if (qps == nullptr) {
        return;
    }
    for (unsigned i = 0; i < qps->nb_blocks; ++i) {
        const AVVideoBlockParams* block =
            av_video_enc_params_block(const_cast<AVVideoEncParams*>(qps), i);
        map.WidthMbs = std::max(map.WidthMbs, (block->src_x + block->w + 15) / 16);
        map.HeightMbs = std::max(map.HeightMbs, (block->src_y + block->h + 15) / 16);
    }
    // The cropped part is a few samples; a block far beyond the picture is not the
    // picture's, and must not make the map large.
    map.WidthMbs = std::min(map.WidthMbs, 2 * ((frame.width + 15) / 16) + 1);
    map.HeightMbs = std::min(map.HeightMbs, 2 * ((frame.height + 15) / 16) + 1);
}

void ReadQps(const AVVideoEncParams* qps, TMacroblockMap& map) {
    if (qps == nullptr) {
        return;
    }
    bool any = false;
    for (unsigned i = 0; i < qps->nb_blocks; ++i) {
        const AVVideoBlockParams* block =
            av_video_enc_params_block(const_cast<AVVideoEncParams*>(qps), i);
        const int qp = qps->qp + block->delta_qp;
        for (int y = block->src_y / 16; y < (block->src_y + block->h + 15) / 16; ++y) {
            for (int x = block->src_x / 16; x < (block->src_x + block->w + 15) / 16; ++x) {
                if (x >= 0 && y >= 0 && x < map.WidthMbs && y < map.HeightMbs) {
                    map.Mbs[static_cast<std::size_t>(y * map.WidthMbs + x)].Qp = qp;
                }
            }
        }
        map.MinQp = any ? std::min(map.MinQp, qp) : qp;
        map.MaxQp = any ? std::max(map.MaxQp, qp) : qp;
        any = true;
    }
}

// The decoder gives a vector per partition (one per 8x8 block for smaller ones), placed by
// the block's centre, in raster order of the macroblocks; counted first, so that each
// macroblock's vectors lie together whatever the order.
void ReadVectors(const AVFrameSideData* data, TMacroblockMap& map) {
    if (data == nullptr) {
        return;
    }
    const auto* vectors = reinterpret_cast<const AVMotionVector*>(data->data);
    const std::size_t count = data->size / sizeof(AVMotionVector);
    const auto owner = [&](const AVMotionVector& v) -> TMacroblock* {
        if (v.dst_x < 0 || v.dst_y < 0 || v.motion_scale == 0 || v.w > 16 || v.h > 16) {
            return nullptr;
        }
        TMacroblock* mb = nullptr;
        const TMacroblock* at = map.At(v.dst_x / 16, v.dst_y / 16);
        if (at != nullptr) {
            mb = &map.Mbs[static_cast<std::size_t>(at - map.Mbs.data())];
        }
        return mb;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (TMacroblock* mb = owner(vectors[i])) {
            ++mb->VectorCount;
        }
    }
    std::uint32_t next = 0;
    for (TMacroblock& mb : map.Mbs) {
        mb.FirstVector = next;
        next += mb.VectorCount;
        mb.VectorCount = 0;
    }
    map.Vectors.resize(next);
    for (std::size_t i = 0; i < count; ++i) {
        const AVMotionVector& v = vectors[i];
        TMacroblock* mb = owner(v);
        if (mb == nullptr) {
            continue;
        }
        TMotionVector& out = map.Vectors[mb->FirstVector + mb->VectorCount++];
        out.List = v.source > 0 ? 1 : 0;
        out.W = v.w;
        out.H = v.h;
        out.X = static_cast<std::uint8_t>(std::clamp(v.dst_x - v.w / 2 - v.dst_x / 16 * 16, 0, 15));
        out.Y = static_cast<std::uint8_t>(std::clamp(v.dst_y - v.h / 2 - v.dst_y / 16 * 16, 0, 15));
        out.Dx4 = v.motion_x * 4 / v.motion_scale;
        out.Dy4 = v.motion_y * 4 / v.motion_scale;
    }
}

std::shared_ptr<const TMacroblockMap> MapOf(const AVFrame& frame,
                                            const std::vector<TSliceStart>& starts) {
    auto map = std::make_shared<TMacroblockMap>();
    const AVFrameSideData* qpData = av_frame_get_side_data(&frame, AV_FRAME_DATA_VIDEO_ENC_PARAMS);
    const auto* qps =
        qpData != nullptr ? reinterpret_cast<const AVVideoEncParams*>(qpData->data) : nullptr;
    SizeMap(frame, qps, *map);
    map->Mbs.resize(static_cast<std::size_t>(map->WidthMbs) *
                    static_cast<std::size_t>(map->HeightMbs));
    ReadQps(qps, *map);
    ReadVectors(av_frame_get_side_data(&frame, AV_FRAME_DATA_MOTION_VECTORS), *map);
    AssignSlices(starts, *map);
    return map;
}

class TAvPictureDecoder final : public IPictureDecoder {
  public:
    TAvPictureDecoder(int threads, bool macroblocks)
        : FThreads(threads), FMacroblocks(macroblocks), FPacket(av_packet_alloc()) {
        if (!FPacket) {
            throw std::bad_alloc();
        }
        Reset();
    }

    // A new context rather than a flushed one: a flush keeps what the decoder learnt of the
    // stream (its output delay, say), and a restart must be the same as the first start.
    void Reset() override {
        FPending.clear();
        FSentTags.clear();
        FSliceReader.Reset();
        FStarts.clear();
        FContext.reset();
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (codec == nullptr) {
            throw std::runtime_error("the decoding library has no H.264 decoder");
        }
        FContext.reset(avcodec_alloc_context3(codec));
        if (!FContext) {
            throw std::bad_alloc();
        }
        // One thread unless more are asked for: only then does the decoder conceal what a
        // lost slice leaves and mark the picture so (with slice threads it never does, with
        // frame threads only now and then), and a picture shown as right when it is not
        // costs more than the speed.
        FContext->thread_count = FThreads == 0 ? 1 : FThreads;
        // The macroblocks of a picture are read when it is given out; with frame threads
        // that can be before another thread has finished decoding it, and its QPs and
        // vectors come out partly empty. Slice threads finish a picture before giving it.
        FContext->thread_type = FMacroblocks ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
        // Every picture comes out, also those decoded before the references were complete:
        // a start at a recovery point shows what it has, marked as such.
        FContext->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
        // No level allows a larger picture: a broken stream, refused before its planes are
        // allocated. The library compares the limit with a width rounded up to its stride
        // alignment (64 samples at most), so that much is added, or a legal picture 1,053
        // to 1,055 macroblocks wide would be refused.
        const std::int64_t maxFs = HighestLevel().MaxFS;
        const auto maxSide = static_cast<std::int64_t>(std::sqrt(8.0 * static_cast<double>(maxFs)));
        FContext->max_pixels = (maxFs + 4 * maxSide) * 256;
        if (FMacroblocks) {
            FContext->export_side_data |=
                AV_CODEC_EXPORT_DATA_MVS | AV_CODEC_EXPORT_DATA_VIDEO_ENC_PARAMS;
        }
        const int status = avcodec_open2(FContext.get(), codec, nullptr);
        if (status < 0) {
            throw std::runtime_error("cannot open the decoder: " + ErrorText(status));
        }
    }

    bool Send(const TAccessUnitIn& unit, std::string& error) override {
        if (FMacroblocks) {
            KeepSliceStarts(unit);
        }
        FPacket->data = const_cast<std::uint8_t*>(unit.Data); // the decoder copies it
        FPacket->size = static_cast<int>(unit.Size);
        FPacket->pts = unit.Tag;
        FPacket->dts = AV_NOPTS_VALUE;
        FSentTags.push_back(unit.Tag);
        if (FSentTags.size() > static_cast<std::size_t>(std::max(FContext->thread_count, 1))) {
            FSentTags.pop_front();
        }
        const bool sent = SendPacket(FPacket.get(), error);
        FPacket->data = nullptr;
        FPacket->size = 0;
        return sent;
    }

    // With frame threads, a packet's result (its error too) comes back when the packet
    // sent a thread count later goes in: the oldest of the last thread count sent.
    std::int64_t FailedTag(std::int64_t sentTag) const override {
        const auto threads = static_cast<std::size_t>(std::max(FContext->thread_count, 1));
        if ((FContext->active_thread_type & FF_THREAD_FRAME) != 0 && threads > 1 &&
            FSentTags.size() == threads) {
            return FSentTags.front();
        }
        return sentTag;
    }

    bool Drain(std::string& error) override { return SendPacket(nullptr, error); }

    bool Receive(const std::function<TPicture*(std::int64_t tag)>& place,
                 std::int64_t& tag) override {
        while (!FPending.empty()) {
            TFramePtr frame = std::move(FPending.front());
            FPending.pop_front();
            tag = frame->pts;
            TPicture* picture = place(tag);
            std::vector<TSliceStart> starts = TakeSliceStarts(tag);
            if (picture == nullptr) {
                return true;
            }
            if (CopyPlanes(*frame, *picture)) {
                picture->Macroblocks = FMacroblocks ? MapOf(*frame, starts) : nullptr;
                return true;
            }
        }
        return false;
    }

  private:
    struct TStartsOfUnit {
        std::int64_t Tag = 0;
        std::vector<TSliceStart> Starts;
    };
    // Kept for the units whose pictures have not come out yet; a picture that never comes
    // out must not make the list grow, so the oldest goes beyond a reorder depth's worth.
    static constexpr std::size_t kKeptStarts = 64;

    void KeepSliceStarts(const TAccessUnitIn& unit) {
        if (FStarts.size() >= kKeptStarts) {
            FStarts.pop_front();
        }
        FStarts.push_back(TStartsOfUnit{unit.Tag, {}});
        FSliceReader.Read(unit.Data, unit.Size, FStarts.back().Starts);
    }

    // The starts of the picture sent with tag: with those of its second field when the
    // unit sent next is the other field of the same frame, which comes out with it.
    std::vector<TSliceStart> TakeSliceStarts(std::int64_t tag) {
        const auto found = std::find_if(FStarts.begin(), FStarts.end(),
                                        [&](const TStartsOfUnit& s) { return s.Tag == tag; });
        if (found == FStarts.end()) {
            return {};
        }
        std::vector<TSliceStart> starts = std::move(found->Starts);
        auto last = found + 1;
        if (last != FStarts.end() && JoinFields(starts, last->Starts)) {
            ++last;
        }
        FStarts.erase(found, last);
        return starts;
    }

    // Sends and collects every frame that is ready, so that the decoder never refuses a
    // packet for want of room.
    bool SendPacket(const AVPacket* packet, std::string& error) {
        for (;;) {
            const int sent = avcodec_send_packet(FContext.get(), packet);
            const bool again = sent == AVERROR(EAGAIN);
            if (sent < 0 && !again) {
                error = ErrorText(sent);
                return false;
            }
            for (;;) {
                TFramePtr frame(av_frame_alloc());
                if (!frame) {
                    throw std::bad_alloc();
                }
                const int got = avcodec_receive_frame(FContext.get(), frame.get());
                if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
                    break;
                }
                if (got < 0) {
                    error = ErrorText(got);
                    return false;
                }
                FPending.push_back(std::move(frame));
            }
            if (!again) {
                return true;
            }
        }
    }

    int FThreads;
    bool FMacroblocks;
    TSliceStartReader FSliceReader;
    std::deque<TStartsOfUnit> FStarts;
    std::unique_ptr<AVCodecContext, TContextFree> FContext;
    std::unique_ptr<AVPacket, TPacketFree> FPacket;
    std::deque<TFramePtr> FPending;
    std::deque<std::int64_t> FSentTags; // the last thread count's worth
};

// The library's name of the sampling, for the conversion.
AVPixelFormat FormatOf(const TPicture& picture) {
    std::string name;
    if (picture.ChromaFormat == 0) {
        name = "gray";
    } else if (picture.Rgb) {
        name = "gbrp";
    } else {
        name = picture.ChromaFormat == 1   ? "yuv420p"
               : picture.ChromaFormat == 2 ? "yuv422p"
                                           : "yuv444p";
    }
    if (picture.BitDepth > 8) {
        name += std::to_string(picture.BitDepth) + "le";
    }
    return av_get_pix_fmt(name.c_str());
}

std::unique_ptr<IPictureDecoder> CreateAvDecoder(int threads, bool macroblocks) {
    // The decoder's complaints about damaged data would go to standard error; what matters
    // reaches the caller as an error or a picture marked corrupt.
    av_log_set_level(AV_LOG_QUIET);
    return std::make_unique<TAvPictureDecoder>(threads, macroblocks);
}

bool AvPictureToPng(const TPicture& picture, std::vector<std::uint8_t>& png, std::string& error) {
    const AVPixelFormat format = FormatOf(picture);
    const bool deep = picture.BitDepth > 8;
    const AVPixelFormat rgbFormat = deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
    if (format == AV_PIX_FMT_NONE || picture.Width <= 0 || picture.Height <= 0) {
        error = "no conversion for this picture's sampling";
        return false;
    }
    SwsContext* scale = sws_getContext(
        picture.Width, picture.Height, format, picture.Width, picture.Height, rgbFormat,
        SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (scale == nullptr) {
        error = "no conversion for this picture's sampling";
        return false;
    }
    if (!picture.Rgb) {
        const int* matrix = sws_getCoefficients(picture.Bt709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scale, matrix, picture.FullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    TFramePtr frame(av_frame_alloc());
    if (!frame) {
        sws_freeContext(scale);
        throw std::bad_alloc();
    }
    frame->format = rgbFormat;
    frame->width = picture.Width;
    frame->height = picture.Height;
    int status = av_frame_get_buffer(frame.get(), 0);
    const std::uint8_t* source[4] = {};
    int sourceStride[4] = {};
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        source[plane] = picture.Planes[static_cast<std::size_t>(plane)].data();
        sourceStride[plane] = picture.PlaneWidth(plane) * picture.BytesPerSample();
    }
    if (status >= 0) {
        sws_scale(scale, source, sourceStride, 0, picture.Height, frame->data, frame->linesize);
    }
    sws_freeContext(scale);
    if (status < 0) {
        error = ErrorText(status);
        return false;
    }
    return EncodePng(*frame, png, error);
}

bool AvPictureToRgb32(const TPicture& picture, int width, int height, TRgbPixels& rgb) {
    const AVPixelFormat format = FormatOf(picture);
    if (format == AV_PIX_FMT_NONE || picture.Width <= 0 || picture.Height <= 0) {
        return false;
    }
    int outWidth = 0;
    int outHeight = 0;
    FitPicture(picture, width, height, outWidth, outHeight);
    // Area averaging when it shrinks, so that a large picture shown small keeps its detail;
    // at full size the same conversion as a picture file's.
    const int flags = outWidth < picture.Width || outHeight < picture.Height
                          ? SWS_AREA
                          : SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    SwsContext* context = sws_getContext(picture.Width, picture.Height, format, outWidth, outHeight,
                                         AV_PIX_FMT_RGB32, flags, nullptr, nullptr, nullptr);
    if (context == nullptr) {
        return false;
    }
    if (!picture.Rgb) {
        const int* matrix = sws_getCoefficients(picture.Bt709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT);
        sws_setColorspaceDetails(context, matrix, picture.FullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    rgb.Width = outWidth;
    rgb.Height = outHeight;
    rgb.Pixels.resize(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight));
    const std::uint8_t* source[4] = {};
    int sourceStride[4] = {};
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        source[plane] = picture.Planes[static_cast<std::size_t>(plane)].data();
        sourceStride[plane] = picture.PlaneWidth(plane) * picture.BytesPerSample();
    }
    std::uint8_t* target[4] = {reinterpret_cast<std::uint8_t*>(rgb.Pixels.data())};
    int targetStride[4] = {outWidth * 4};
    const int rows =
        sws_scale(context, source, sourceStride, 0, picture.Height, target, targetStride);
    sws_freeContext(context);
    return rows == outHeight;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const TDecoderModule* QuilletDecoderModule() {
    static const TDecoderModule module{kDecoderModuleVersion, CreateAvDecoder, AvPictureToRgb32,
                                       AvPictureToPng, RgbToPng};
    return &module;
}
