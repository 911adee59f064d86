#pragma once

// Owners of the decoding library's objects, for the units that include its headers.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <memory>

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
