#include "decode/PngWriter.h"

#include "decode/AvHandles.h"

#include <vector>

bool EncodePng(const AVFrame& frame, std::vector<std::uint8_t>& png, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr || frame.width <= 0 || frame.height <= 0) {
        error = codec == nullptr ? "the decoding library has no PNG encoder" : "no picture";
        return false;
    }
    const std::unique_ptr<AVCodecContext, TContextFree> context(avcodec_alloc_context3(codec));
    const std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    if (!context || !packet) {
        throw std::bad_alloc();
    }
    context->width = frame.width;
    context->height = frame.height;
    context->pix_fmt = static_cast<AVPixelFormat>(frame.format);
    context->time_base = AVRational{1, 25};
    if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
        avcodec_send_frame(context.get(), &frame) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
        error = "the PNG encoder refused the picture";
        return false;
    }
    png.assign(packet->data, packet->data + packet->size);
    return true;
}

bool RgbToPng(const TRgbPixels& rgb, std::vector<std::uint8_t>& png, std::string& error) {
    const TFramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    frame->width = rgb.Width;
    frame->height = rgb.Height;
    frame->format = AV_PIX_FMT_RGB24;
    if (rgb.Width <= 0 || rgb.Height <= 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "no picture";
        return false;
    }
    for (int y = 0; y < rgb.Height; ++y) {
        std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < rgb.Width; ++x) {
            const std::uint32_t pixel =
                rgb.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(rgb.Width) +
                           static_cast<std::size_t>(x)];
            row[3 * x] = static_cast<std::uint8_t>(pixel >> 16);
            row[3 * x + 1] = static_cast<std::uint8_t>(pixel >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(pixel);
        }
    }
    return EncodePng(*frame, png, error);
}
