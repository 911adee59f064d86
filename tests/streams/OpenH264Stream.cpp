// Writes a moving test pattern as an H.264 Annex B stream through OpenH264, whose syntax
// choices differ from x264's: several slices per picture, hierarchical P pictures in temporal
// layers, long-term references, parameter-set ids that change at every IDR picture and
// prefix units. For the differential test only; no program ships it.
//
// usage: openh264-stream OUT [--size WxH] [--frames N] [--slices N] [--layers N] [--ltr]
//        [--intra-period N] [--qp N] [--refs N] [--cabac] [--prefix] [--ids N]

#include <wels/codec_api.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct TOptions {
    const char* Out = nullptr;
    int Width = 176;
    int Height = 144;
    int Frames = 30;
    unsigned Slices = 1;
    int Layers = 1;
    bool LongTerm = false;
    unsigned IntraPeriod = 0;
    int Qp = 26;
    int Refs = 1;
    bool Cabac = false;
    bool Prefix = false;
    int IdStrategy = CONSTANT_ID;
};

bool Parse(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        const auto value = [&] { return std::atoi(argv[++i]); };
        if (arg == "--size" && valued) {
            if (std::sscanf(argv[++i], "%dx%d", &options.Width, &options.Height) != 2) {
                return false;
            }
        } else if (arg == "--frames" && valued) {
            options.Frames = value();
        } else if (arg == "--slices" && valued) {
            options.Slices = static_cast<unsigned>(value());
        } else if (arg == "--layers" && valued) {
            options.Layers = value();
        } else if (arg == "--intra-period" && valued) {
            options.IntraPeriod = static_cast<unsigned>(value());
        } else if (arg == "--qp" && valued) {
            options.Qp = value();
        } else if (arg == "--refs" && valued) {
            options.Refs = value();
        } else if (arg == "--ids" && valued) {
            options.IdStrategy = value();
        } else if (arg == "--ltr") {
            options.LongTerm = true;
        } else if (arg == "--cabac") {
            options.Cabac = true;
        } else if (arg == "--prefix") {
            options.Prefix = true;
        } else if (arg[0] != '-' && options.Out == nullptr) {
            options.Out = argv[i];
        } else {
            return false;
        }
    }
    return options.Out != nullptr && options.Width > 0 && options.Height > 0 &&
           options.Width % 2 == 0 && options.Height % 2 == 0;
}

// A diagonal gradient drifting right, with a bright square moving across it and chroma that
// changes along both axes, so that motion search and every plane have work to do.
void Paint(int frame, int width, int height, std::vector<std::uint8_t>& planes) {
    std::uint8_t* y = planes.data();
    std::uint8_t* u = y + width * height;
    std::uint8_t* v = u + width * height / 4;
    const int side = height / 4;
    const int left = (frame * 3) % (width - side);
    const int top = (frame * 2) % (height - side);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const bool inSquare =
                col >= left && col < left + side && row >= top && row < top + side;
            const int texture = ((col / 4 + row / 4) & 1) * 24;
            y[row * width + col] = static_cast<std::uint8_t>(
                inSquare ? 235 - texture : (col + row + frame * 2) % 200 + 16 + texture / 2);
        }
    }
    for (int row = 0; row < height / 2; ++row) {
        for (int col = 0; col < width / 2; ++col) {
            u[row * width / 2 + col] = static_cast<std::uint8_t>(64 + (col * 2 + frame) % 128);
            v[row * width / 2 + col] = static_cast<std::uint8_t>(64 + (row * 3 + frame) % 128);
        }
    }
}

void Configure(const TOptions& options, SEncParamExt& param) {
    param.iUsageType = CAMERA_VIDEO_REAL_TIME;
    param.iPicWidth = options.Width;
    param.iPicHeight = options.Height;
    param.fMaxFrameRate = 25;
    // Constant QP: without rate control every picture of the base temporal layer is coded
    // at this QP, and OpenH264 adds one for each layer above.
    param.iRCMode = RC_OFF_MODE;
    param.iTargetBitrate = 0;
    param.bEnableFrameSkip = false;
    param.iTemporalLayerNum = options.Layers;
    param.iSpatialLayerNum = 1;
    param.uiIntraPeriod = options.IntraPeriod;
    param.iNumRefFrame = options.Refs;
    param.eSpsPpsIdStrategy = static_cast<EParameterSetStrategy>(options.IdStrategy);
    param.bPrefixNalAddingCtrl = options.Prefix;
    param.iEntropyCodingModeFlag = options.Cabac ? 1 : 0;
    param.bEnableLongTermReference = options.LongTerm;
    param.iLTRRefNum = options.LongTerm ? 2 : 0;
    param.iLtrMarkPeriod = 4;
    // One thread: the same options make the same stream on every machine.
    param.iMultipleThreadIdc = 1;
    param.bUseLoadBalancing = false;
    param.bEnableSceneChangeDetect = false;
    param.bEnableBackgroundDetection = false;
    param.bEnableAdaptiveQuant = false;
    SSpatialLayerConfig& layer = param.sSpatialLayers[0];
    layer.iVideoWidth = options.Width;
    layer.iVideoHeight = options.Height;
    layer.fFrameRate = 25;
    layer.iSpatialBitrate = 0;
    layer.iDLayerQp = options.Qp;
    layer.uiProfileIdc = options.Cabac ? PRO_MAIN : PRO_BASELINE;
    layer.sSliceArgument.uiSliceMode = options.Slices > 1 ? SM_FIXEDSLCNUM_SLICE : SM_SINGLE_SLICE;
    layer.sSliceArgument.uiSliceNum = options.Slices;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: openh264-stream OUT [--size WxH] [--frames N] [--slices N] "
                             "[--layers N] [--ltr] [--intra-period N] [--qp N] [--refs N] "
                             "[--cabac] [--prefix] [--ids N]\n");
        return 2;
    }
    ISVCEncoder* encoder = nullptr;
    if (WelsCreateSVCEncoder(&encoder) != 0 || encoder == nullptr) {
        std::fprintf(stderr, "openh264-stream: no encoder\n");
        return 1;
    }
    SEncParamExt param;
    encoder->GetDefaultParams(&param);
    Configure(options, param);
    int quiet = WELS_LOG_ERROR;
    encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
    if (encoder->InitializeExt(&param) != 0) {
        std::fprintf(stderr, "openh264-stream: the encoder refuses these options\n");
        WelsDestroySVCEncoder(encoder);
        return 1;
    }
    int format = videoFormatI420;
    encoder->SetOption(ENCODER_OPTION_DATAFORMAT, &format);

    std::FILE* out = std::fopen(options.Out, "wb");
    if (out == nullptr) {
        std::perror(options.Out);
        encoder->Uninitialize();
        WelsDestroySVCEncoder(encoder);
        return 1;
    }
    const int width = options.Width;
    const int height = options.Height;
    std::vector<std::uint8_t> planes(static_cast<std::size_t>(width * height * 3 / 2));
    SSourcePicture picture{};
    picture.iColorFormat = videoFormatI420;
    picture.iPicWidth = width;
    picture.iPicHeight = height;
    picture.iStride[0] = width;
    picture.iStride[1] = picture.iStride[2] = width / 2;
    picture.pData[0] = planes.data();
    picture.pData[1] = planes.data() + width * height;
    picture.pData[2] = picture.pData[1] + width * height / 4;
    int status = 0;
    for (int frame = 0; frame < options.Frames && status == 0; ++frame) {
        Paint(frame, width, height, planes);
        picture.uiTimeStamp = frame * 40;
        SFrameBSInfo info;
        std::memset(&info, 0, sizeof info);
        if (encoder->EncodeFrame(&picture, &info) != cmResultSuccess) {
            std::fprintf(stderr, "openh264-stream: picture %d failed\n", frame);
            status = 1;
            break;
        }
        // The layers' units already carry their start codes.
        for (int l = 0; l < info.iLayerNum; ++l) {
            const SLayerBSInfo& layer = info.sLayerInfo[l];
            std::size_t bytes = 0;
            for (int n = 0; n < layer.iNalCount; ++n) {
                bytes += static_cast<std::size_t>(layer.pNalLengthInByte[n]);
            }
            if (std::fwrite(layer.pBsBuf, 1, bytes, out) != bytes) {
                status = 1;
            }
        }
    }
    if (std::fclose(out) != 0) {
        status = 1;
    }
    encoder->Uninitialize();
    WelsDestroySVCEncoder(encoder);
    return status;
}
