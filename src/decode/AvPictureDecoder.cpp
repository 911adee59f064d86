#include "decode/DecoderModule.h"

// The decoder realised with libavcodec, and the colour conversion with libswscale: the
// decoder module (DecoderModule.h). The only unit of the program that includes their
// headers.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct TFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;

struct TContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

struct TPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

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
    picture.Corrupt = (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame.decode_error_flags != 0;
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

class TAvPictureDecoder final : public IPictureDecoder {
  public:
    explicit TAvPictureDecoder(int threads) : FThreads(threads), FPacket(av_packet_alloc()) {
        if (!FPacket) {
            throw std::bad_alloc();
        }
        Reset();
    }

    // A new context rather than a flushed one: a flush keeps what the decoder learnt of the
    // stream (its output delay, say), and a restart must be the same as the first start.
    void Reset() override {
        FPending.clear();
        FContext.reset();
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (codec == nullptr) {
            throw std::runtime_error("the decoding library has no H.264 decoder");
        }
        FContext.reset(avcodec_alloc_context3(codec));
        if (!FContext) {
            throw std::bad_alloc();
        }
        FContext->thread_count = FThreads;
        FContext->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        // Every picture comes out, also those decoded before the references were complete:
        // a start at a recovery point shows what it has, marked as such.
        FContext->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
        const int status = avcodec_open2(FContext.get(), codec, nullptr);
        if (status < 0) {
            throw std::runtime_error("cannot open the decoder: " + ErrorText(status));
        }
    }

    bool Send(const TAccessUnitIn& unit, std::string& error) override {
        FPacket->data = const_cast<std::uint8_t*>(unit.Data); // the decoder copies it
        FPacket->size = static_cast<int>(unit.Size);
        FPacket->pts = unit.Tag;
        FPacket->dts = AV_NOPTS_VALUE;
        const bool sent = SendPacket(FPacket.get(), error);
        FPacket->data = nullptr;
        FPacket->size = 0;
        return sent;
    }

    bool Drain(std::string& error) override { return SendPacket(nullptr, error); }

    bool Receive(const std::function<TPicture*(std::int64_t tag)>& place,
                 std::int64_t& tag) override {
        while (!FPending.empty()) {
            TFramePtr frame = std::move(FPending.front());
            FPending.pop_front();
            tag = frame->pts;
            TPicture* picture = place(tag);
            if (picture == nullptr || CopyPlanes(*frame, *picture)) {
                return true;
            }
        }
        return false;
    }

  private:
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
    std::unique_ptr<AVCodecContext, TContextFree> FContext;
    std::unique_ptr<AVPacket, TPacketFree> FPacket;
    std::deque<TFramePtr> FPending;
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

std::unique_ptr<IPictureDecoder> CreateAvDecoder(int threads) {
    // The decoder's complaints about damaged data would go to standard error; what matters
    // reaches the caller as an error or a picture marked corrupt.
    av_log_set_level(AV_LOG_QUIET);
    return std::make_unique<TAvPictureDecoder>(threads);
}

bool AvPictureToRgb32(const TPicture& picture, int width, int height, TRgbPixels& rgb) {
    const AVPixelFormat format = FormatOf(picture);
    if (format == AV_PIX_FMT_NONE || picture.Width <= 0 || picture.Height <= 0) {
        return false;
    }
    int outWidth = 0;
    int outHeight = 0;
    FitPicture(picture, width, height, outWidth, outHeight);
    // Area averaging when it shrinks, so that a large picture shown small keeps its detail.
    SwsContext* context = sws_getContext(picture.Width, picture.Height, format, outWidth, outHeight,
                                         AV_PIX_FMT_RGB32, SWS_AREA, nullptr, nullptr, nullptr);
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
    static const TDecoderModule module{kDecoderModuleVersion, CreateAvDecoder, AvPictureToRgb32};
    return &module;
}
