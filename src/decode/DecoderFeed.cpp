#include "decode/DecoderFeed.h"

#include "model/Levels.h"
#include "stream/H264Utils.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>

namespace {

// The sample aspect ratios aspect_ratio_idc 1 to 16 stand for.
constexpr int kSampleAspect[16][2] = {{1, 1},    {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11},
                                      {20, 11},  {32, 11}, {80, 33}, {18, 11}, {15, 11}, {64, 33},
                                      {160, 99}, {4, 3},   {3, 2},   {2, 1}};

bool ShapeOf(const TSeqParameterSet& sps, TSequenceShape& shape) {
    const bool chroma = ProfileHasChromaBlock(sps.profile_idc);
    // A set with values no stream can have tells nothing of the pictures.
    if ((chroma && (sps.chroma_format_idc > 3 || sps.bit_depth_luma_minus8 > 6 ||
                    sps.bit_depth_chroma_minus8 > 6)) ||
        sps.log2_max_frame_num_minus4 > 12 || sps.pic_order_cnt_type > 2 ||
        sps.log2_max_pic_order_cnt_lsb_minus4 > 12) {
        return false;
    }
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
    // No side over 1,055 macroblocks, the longest any level allows.
    if (codedWidth > 16880 || codedHeight > 16880 || left + right >= codedWidth ||
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
    const std::uint64_t frameMbs64 = static_cast<std::uint64_t>(codedWidth / 16 * codedHeight / 16);
    const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc);
    const std::uint32_t highest = std::max(MaxDpbFrames(HighestLevel(), frameMbs64), 1U);
    const std::uint32_t promised =
        sps.vui_parameters_present_flag != 0 && vui.bitstream_restriction_flag != 0
            ? vui.max_dec_frame_buffering
            : MaxDpbFrames(level ? *level : HighestLevel(), frameMbs64);
    shape.Buffer = static_cast<int>(std::clamp(std::max(promised, sps.num_ref_frames), 1U, highest));
    shape.SpsId = sps.seq_parameter_set_id;
    shape.Mbaff = frameMbs == 2 && sps.mb_adaptive_frame_field_flag != 0;
    shape.FrameNumBits = static_cast<int>(sps.log2_max_frame_num_minus4) + 4;
    shape.PocType = sps.pic_order_cnt_type;
    shape.PocLsbBits = static_cast<int>(sps.log2_max_pic_order_cnt_lsb_minus4) + 4;
    shape.PocDeltaZero = sps.delta_pic_order_always_zero_flag != 0;
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

// Bits of a unit's payload, most significant first, with exp-Golomb codes.
class TBitWriter {
  public:
    void Bits(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            FBits.push_back(static_cast<std::uint8_t>((value >> i) & 1));
        }
    }
    void Ue(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t{value} + 1;
        int width = 0;
        while ((code >> width) > 1) {
            ++width;
        }
        Bits(0, width);
        for (int i = width; i >= 0; --i) {
            FBits.push_back(static_cast<std::uint8_t>((code >> i) & 1));
        }
    }
    // The unit with its start code, header byte, stop bit and emulation prevention.
    void Unit(std::uint8_t header, std::vector<std::uint8_t>& out) {
        Bits(1, 1);
        while (FBits.size() % 8 != 0) {
            FBits.push_back(0);
        }
        out.insert(out.end(), {0, 0, 0, 1, header});
        int zeros = 0;
        for (std::size_t i = 0; i < FBits.size(); i += 8) {
            std::uint8_t byte = 0;
            for (std::size_t k = 0; k < 8; ++k) {
                byte = static_cast<std::uint8_t>(byte << 1 | FBits[i + k]);
            }
            if (zeros >= 2 && byte <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        FBits.clear();
    }

  private:
    std::vector<std::uint8_t> FBits;
};

} // namespace

std::int64_t DecodingPeakMiB(const TSequenceShape& shape) {
    // Wine's decoder gives 8-bit 4:2:0 samples whatever it is given; in tenths of a picture.
    const std::int64_t frameBytes = std::int64_t{shape.CodedWidth} * shape.CodedHeight * 3 / 2;
    return 60 + frameBytes * (188 + 26 * std::int64_t{shape.Buffer}) / 10 / (1 << 20);
}

bool WindowsDecoderTakes(const TSequenceShape& shape, std::string& why) {
    if (!shape.Known) {
        return true;
    }
    if (shape.BitDepth != 8 || (shape.ChromaFormat != 0 && shape.ChromaFormat != 1)) {
        static const char* const kSampling[] = {"4:0:0", "4:2:0", "4:2:2", "4:4:4"};
        why = "this system's H.264 decoder gives 8-bit 4:2:0 pictures only: the stream's " +
              std::to_string(shape.BitDepth) + "-bit " + kSampling[shape.ChromaFormat] +
              " pictures cannot be shown as they are";
        return false;
    }
    const std::int64_t peak = DecodingPeakMiB(shape);
    if (peak > kDecodingBudgetMiB) {
        why = "the 32-bit program cannot decode pictures of " +
              std::to_string(shape.CodedWidth) + "x" + std::to_string(shape.CodedHeight) +
              " with a buffer of " + std::to_string(shape.Buffer) + " frames: that takes about " +
              std::to_string(peak) + " MiB, more than the " + std::to_string(kDecodingBudgetMiB) +
              " MiB its address space has room for";
        return false;
    }
    return true;
}

void FillerIdr(const TSequenceShape& shape, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!shape.Known) {
        return;
    }
    TBitWriter w;
    // pic_parameter_set_rbsp: id 0, CAVLC, one slice group, no weighting, QP 26, nothing else.
    w.Ue(0);
    w.Ue(shape.SpsId);
    w.Bits(0, 2);
    w.Ue(0);
    w.Ue(0);
    w.Ue(0);
    w.Bits(0, 3);
    w.Ue(0); // QP, QS and the chroma QP offset: se(v) 0
    w.Ue(0);
    w.Ue(0);
    w.Bits(0, 3);
    w.Unit(0x68, out);
    // The slice header of an I picture that is an IDR one, as a frame.
    w.Ue(0);
    w.Ue(7);
    w.Ue(0);
    w.Bits(0, shape.FrameNumBits);
    if (shape.Interlaced) {
        w.Bits(0, 1); // field_pic_flag
    }
    w.Ue(0); // idr_pic_id
    if (shape.PocType == 0) {
        w.Bits(0, shape.PocLsbBits);
    } else if (shape.PocType == 1 && !shape.PocDeltaZero) {
        w.Ue(0);
    }
    w.Bits(0, 2); // no_output_of_prior_pics_flag: the pictures held come out
    w.Ue(0);      // slice_qp_delta
    // Each macroblock (each pair's field flag first when pairs may be fields): I_16x16 with
    // DC prediction and no coded blocks, chroma DC predicted, no QP change, and its DC
    // block's coeff_token of no coefficients.
    const int count = shape.CodedWidth / 16 * (shape.CodedHeight / 16);
    for (int mb = 0; mb < count; ++mb) {
        if (shape.Mbaff && mb % 2 == 0) {
            w.Bits(0, 1);
        }
        w.Ue(3);
        if (shape.ChromaFormat == 1 || shape.ChromaFormat == 2) {
            w.Ue(0);
        }
        w.Ue(0);
        w.Bits(1, 1);
    }
    w.Unit(0x65, out);
}

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
