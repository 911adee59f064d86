#pragma once

// The decoder as a module of its own, loaded when a picture is first asked for: a run that
// shows no picture (every listing) does not pay for loading the decoding libraries and the
// hundred libraries they bring. The module and the program come from one build, so the
// entry's record is shared as it is.

#include "decode/PictureDecoder.h"

struct TDecoderModule {
    int Version; // kDecoderModuleVersion of the build that made the module
    std::unique_ptr<IPictureDecoder> (*Create)(int threads, bool macroblocks);
    bool (*ToRgb32)(const TPicture& picture, int width, int height, TRgbPixels& rgb);
    bool (*ToPng)(const TPicture& picture, std::vector<std::uint8_t>& png, std::string& error);
    bool (*RgbToPng)(const TRgbPixels& rgb, std::vector<std::uint8_t>& png, std::string& error);
};

inline constexpr int kDecoderModuleVersion = 3;

// The module's one exported symbol.
inline constexpr const char* kDecoderModuleEntry = "QuilletDecoderModule";
extern "C" const TDecoderModule* QuilletDecoderModule();
