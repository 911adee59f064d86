#pragma once

// Owners of the decoding library's objects, for the units that include its headers.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// The frame (RGB24 or RGB48BE) as a PNG file's bytes; false with the reason when the
// encoder refuses it.
bool EncodePng(const AVFrame& frame, std::vector<std::uint8_t>& png, std::string& error);
