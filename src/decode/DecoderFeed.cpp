#include "decode/DecoderFeed.h"

#include "stream/H264Utils.h"
#include "syntax/seq_parameter_set_rbsp.h"

namespace {

// The sample aspect ratios aspect_ratio_idc 1 to 16 stand for.
constexpr int kSampleAspect[16][2] = {{1, 1},    {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11},
                                      {20, 11},  {32, 11}, {80, 33}, {18, 11}, {15, 11}, {64, 33},
                                      {160, 99}, {4, 3},   {3, 2},   {2, 1}};

bool ShapeOf(const TSeqParameterSet& sps, TSequenceShape& shape) {
    const bool chroma = ProfileHasChromaBlock(sps.profile_idc);
    const int format = chroma ? static_cast<int>(sps.chroma_format_idc) : 1;
    const int frameMbs = sps.frame_mbs_only_flag != 0 ? 1 : 2;
    // The units the cropping counts in: chroma samples, and field pairs when coded as fields.
    const int unitX = format == 1 || format == 2 ? 2 : 1;
    const int unitY = (format == 1 ? 2 : 1) * frameMbs;
    const std::int64_t codedWidth = (std::int64_t{sps.pic_width_in_mbs_minus1} + 1) * 16;
    const std::int64_t codedHeight =
        (std::int64_t{sps.pic_height_in_map_units_minus1} + 1) * 16 * frameMbs;
    std::int64_t left = 0, right = 0, top = 0, bottom = 0;
    if (sps.frame_cropping_flag != 0) {
        left = std::int64_t{sps.frame_crop_left_offset} * unitX;
        right = std::int64_t{sps.frame_crop_right_offset} * unitX;
        top = std::int64_t{sps.frame_crop_top_offset} * unitY;
        bottom = std::int64_t{sps.frame_crop_bottom_offset} * unitY;
    }
    if (codedWidth > 16384 || codedHeight > 16384 || left + right >= codedWidth ||
        top + bottom >= codedHeight) {
        return false;
    }
    shape.Known = true;
    shape.CodedWidth = static_cast<int>(codedWidth);
    shape.CodedHeight = static_cast<int>(codedHeight);
    shape.CropLeft = static_cast<int>(left);
    shape.CropTop = static_cast<int>(top);
    shape.Width = static_cast<int>(codedWidth - left - right);
    shape.Height = static_cast<int>(codedHeight - top - bottom);
    shape.ChromaFormat = format;
    shape.BitDepth = 8 + static_cast<int>(chroma ? sps.bit_depth_luma_minus8 : 0);
    shape.Interlaced = frameMbs == 2;
    const TVuiParameters& vui = sps.vui_parameters;
    shape.FullRange = sps.vui_parameters_present_flag != 0 &&
                      vui.video_signal_type_present_flag != 0 && vui.video_full_range_flag != 0;
    shape.Matrix = sps.vui_parameters_present_flag != 0 &&
                           vui.video_signal_type_present_flag != 0 &&
                           vui.colour_description_present_flag != 0
                       ? vui.matrix_coefficients
                       : 2;
    shape.Bt709 = shape.Matrix == 1;
    if (sps.vui_parameters_present_flag != 0 && vui.aspect_ratio_info_present_flag != 0) {
        const std::uint32_t idc = vui.aspect_ratio_idc;
        if (idc == 255 && vui.sar_width <= 65535 && vui.sar_height <= 65535) {
            shape.SarNum = static_cast<int>(vui.sar_width);
            shape.SarDen = static_cast<int>(vui.sar_height);
        } else if (idc >= 1 && idc <= 16) {
            shape.SarNum = kSampleAspect[idc - 1][0];
            shape.SarDen = kSampleAspect[idc - 1][1];
        }
    }
    return true;
}

} // namespace

void Decodable(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
               bool& idr, TSequenceShape& shape) {
    const auto n = static_cast<std::int64_t>(size);
    out.clear();
    idr = false;
    std::vector<std::uint8_t> rbsp;
    for (std::int64_t at = FindStartCode(data, n, 0, n - 3); at >= 0;) {
        const std::int64_t header = at + StartCodeLength(data + at, n - at);
        const std::int64_t next = header < n ? FindStartCode(data, n, header, n - 3) : -1;
        const std::int64_t end = next >= 0 ? next : n;
        const int type = header < end ? data[header] & 0x1F : 0;
        if (type == 7) {
            const auto length = static_cast<std::int32_t>(end - header - 1);
            rbsp.resize(static_cast<std::size_t>(length));
            std::int32_t written = 0;
            TBitStream4 reader;
            TSeqParameterSet sps{};
            if (Remove_emulation_prevention_three_bytes(data + header + 1, length, rbsp.data(),
                                                        written) &&
                reader.SetData(rbsp.data(), written) == kStatusOk &&
                Parse_seq_parameter_set_rbsp(reader, sps)) {
                ShapeOf(sps, shape);
            }
        }
        idr = idr || type == 5;
        // SEI messages only for a recovery point, which tells where pictures are whole again.
        const bool recoveryPoint = type == 6 && header + 1 < end && data[header + 1] == 6;
        if ((type != 6 || recoveryPoint) && (type < 9 || type > 12)) {
            out.insert(out.end(), data + at, data + end);
        }
        at = next;
    }
}
