// The stream check held to conforming streams (no error, no warning) and to a mutation
// oracle: one element of one unit re-written to a value its rule forbids, or one unit
// moved, cut or added, must give exactly that rule at exactly that unit.

#include "model/StreamCheck.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "support/NaiveUnits.h"
#include "support/TestSupport.h"
#include "syntax/Checks.h"
#include "syntax/SyntaxTestSupport.h"
#include "syntax/nal_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

namespace {

struct TFound {
    std::int64_t Offset;
    std::string Rule;
    TSeverity Severity;
};

class TCollect final : public IProblems {
  public:
    void Problem(const TProblem& p) override {
        All.push_back({p.Offset, p.Rule->Id, p.Rule->Severity});
    }
    std::vector<TFound> All;
};

std::vector<TFound> Check(const std::vector<std::uint8_t>& bytes) {
    const TempDir dir;
    FileStream stream;
    EXPECT_TRUE(stream.Open(dir.Write("s.264", bytes)));
    TCollect found;
    EXPECT_TRUE(CheckStream(stream, found));
    return found.All;
}

using TBytes = std::vector<std::uint8_t>;
using TUnits = std::vector<TNalUnitSpan>;

// Offsets are 64-bit; a 32-bit build indexes with narrower types.
std::size_t Z(std::int64_t at) {
    return static_cast<std::size_t>(at);
}
TBytes::const_iterator At(const TBytes& b, std::int64_t at) {
    return b.begin() + static_cast<std::ptrdiff_t>(at);
}

TBytes Slice(const TBytes& b, std::int64_t from, std::int64_t to) {
    return TBytes(At(b, from), At(b, to));
}

// Emulation prevention as the standard writes it: an 03 after two zeros before any byte
// up to 03, and after a payload that ends in a zero.
TBytes Escape(const TBytes& rbsp) {
    TBytes out;
    int zeros = 0;
    for (const std::uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (!out.empty() && out.back() == 0) {
        out.push_back(3);
    }
    return out;
}

// The unit of the given type and occurrence.
const TNalUnitSpan& UnitOf(const TUnits& units, std::uint32_t type, int occurrence) {
    for (const TNalUnitSpan& u : units) {
        if (u.HasHeader && NalUnitType(u.Header) == type && occurrence-- == 0) {
            return u;
        }
    }
    throw std::runtime_error("no such unit");
}

// The sets before the unit at offset, learned as the walk learns them.
void LearnSetsBefore(const TBytes& stream, std::int64_t offset, TSetStore& sets) {
    TBytes rbsp(stream.size());
    for (const TNalUnitSpan& u : NaiveUnits(stream, 0)) {
        if (u.Offset >= offset) {
            break;
        }
        const auto from = u.Offset + u.StartCodeLength + 1;
        std::int32_t n = 0;
        if (u.PayloadEnd > from) {
            Remove_emulation_prevention_three_bytes(stream.data() + from,
                                                    static_cast<std::int32_t>(u.PayloadEnd - from),
                                                    rbsp.data(), n);
        }
        if (NalUnitType(u.Header) == kNalSps || NalUnitType(u.Header) == kNalPps) {
            sets.Learn(u.Header, rbsp.data(), n, u.Offset);
        }
    }
    sets.At(offset);
}

TChromaFormatLookup ChromaOf(TSetStore& sets) {
    return [&sets](std::uint32_t id) -> std::optional<std::uint32_t> {
        const TSeqParameterSet* sps = sets.Sps(id);
        return sps ? std::optional(sps->chroma_format_idc) : std::nullopt;
    };
}

// The element line labelled so in the unit's full tree: its first bit counted from the
// header byte's first bit with the emulation-prevention bytes before it left out, and its
// width as the tree says ("v" for a code).
struct TElementAt {
    std::int64_t Bit = -1;
    std::string Width;
};

TElementAt FindElement(const TBytes& stream, const TNalUnitSpan& unit,
                       const std::string& label) {
    TSetStore sets(nullptr);
    LearnSetsBefore(stream, unit.Offset, sets);
    TBytes rbsp(stream.size());
    TSyntaxTree tree;
    TBitStream4 reader;
    const TFullDecoding full{&sets, &tree};
    const auto n = static_cast<std::int32_t>(unit.Length);
    DecodeNalUnit(stream.data() + unit.Offset, n, rbsp.data(), reader, tree, ChromaOf(sets),
                  nullptr, &full);
    TElementAt at;
    tree.Walk([&](const TSyntaxLine& line, int) {
        const auto parsed = ParseElementLine(line.Text);
        if (at.Bit < 0 && parsed && parsed->Label == label && line.FirstBit >= 0) {
            at.Bit = line.FirstBit - 8 * unit.StartCodeLength;
            at.Width = parsed->Annotation.substr(0, parsed->Annotation.find(' '));
        }
    });
    // Emulation-prevention bytes before it.
    const std::int64_t payload = unit.Offset + unit.StartCodeLength + 1;
    const std::int64_t storedByte = payload + at.Bit / 8 - 1;
    for (std::int64_t i = payload + 2; i < storedByte && at.Bit >= 0; ++i) {
        if (stream[Z(i)] == 3 && stream[Z(i - 1)] == 0 && stream[Z(i - 2)] == 0) {
            at.Bit -= 8;
        }
    }
    return at;
}

// The stream with the element re-written as the elements of replacement (BitWriter's
// text); the unit's bits after it follow unchanged up to its stop bit, then new trailing
// bits. "first..last" re-writes the elements from first to last.
TBytes Rewrite(const TBytes& stream, const TNalUnitSpan& unit,
               const std::string& label, const std::string& replacement) {
    const std::size_t dots = label.find("..");
    const TElementAt at = FindElement(stream, unit, label.substr(0, dots));
    const TElementAt last =
        dots == std::string::npos ? at : FindElement(stream, unit, label.substr(dots + 2));
    if (at.Bit < 0 || last.Bit < 0) {
        throw std::runtime_error("no element " + label);
    }
    const std::int64_t payload = unit.Offset + unit.StartCodeLength + 1;
    TBytes bits(1, unit.Header); // the header byte and the payload, unescaped
    std::int32_t n = 0;
    TBytes rbsp(static_cast<std::size_t>(unit.PayloadEnd - payload) + 1);
    Remove_emulation_prevention_three_bytes(stream.data() + payload,
                                            static_cast<std::int32_t>(unit.PayloadEnd - payload),
                                            rbsp.data(), n);
    bits.insert(bits.end(), rbsp.begin(), rbsp.begin() + n);
    const auto bitAt = [&bits](std::int64_t i) { return (bits[Z(i / 8)] >> (7 - i % 8)) & 1; };
    std::int64_t stop = 8 * static_cast<std::int64_t>(bits.size()) - 1;
    while (stop > 0 && bitAt(stop) == 0) {
        --stop;
    }
    std::int64_t width = 0;
    if (last.Width == "v") {
        while (bitAt(last.Bit + width) == 0) {
            ++width;
        }
        width = 2 * width + 1;
    } else {
        width = std::stoll(last.Width);
    }
    width += last.Bit - at.Bit;
    BitWriter w;
    for (std::int64_t i = 0; i < at.Bit; ++i) {
        w.Bit(bitAt(i));
    }
    w.Put(replacement);
    for (std::int64_t i = at.Bit + width; i < stop; ++i) {
        w.Bit(bitAt(i));
    }
    w.Trailing();
    TBytes out = Slice(stream, 0, unit.Offset + unit.StartCodeLength);
    out.push_back(w.Bytes()[0]);
    const TBytes escaped = Escape(TBytes(w.Bytes().begin() + 1, w.Bytes().end()));
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.insert(out.end(), At(stream, unit.PayloadEnd), stream.end());
    return out;
}

// The rules the detail tree of the unit at offset marks with its "! " lines: what the unit
// alone breaks.
std::set<std::string> TreeMarks(const TBytes& stream, std::int64_t offset) {
    TSetStore sets(nullptr);
    LearnSetsBefore(stream, offset, sets);
    TSyntaxTree tree;
    TBitStream4 reader;
    TBytes rbsp(stream.size());
    TFullDecoding full;
    full.Problems = true;
    DecodeNalUnit(stream.data() + offset, static_cast<std::int32_t>(stream.size() - offset),
                  rbsp.data(), reader, tree, ChromaOf(sets), nullptr, &full);
    std::set<std::string> marks;
    tree.Walk([&](const TSyntaxLine& line, int) {
        if (line.Text.rfind("! ", 0) == 0) {
            const auto open = line.Text.rfind(" [");
            marks.insert(line.Text.substr(open + 2, line.Text.find(',', open) - open - 2));
        }
    });
    return marks;
}

// Exactly the rule at the unit at offset, and that rule nowhere else.
// Whether the tree marked the rule, the tree's marks being among the check's.
bool ExpectOnly(const TBytes& stream, std::int64_t offset, const std::string& rule,
                const std::string& what, bool recurs) {
    const std::vector<TFound> found = Check(stream);
    std::set<std::string> atUnit;
    int elsewhere = 0;
    for (const TFound& f : found) {
        if (f.Offset == offset) {
            atUnit.insert(f.Rule);
        } else if (f.Rule == rule) {
            ++elsewhere;
        }
    }
    EXPECT_EQ(atUnit, std::set<std::string>{rule}) << what;
    EXPECT_TRUE(recurs || elsewhere == 0) << what;
    const std::set<std::string> marks = TreeMarks(stream, offset);
    EXPECT_TRUE(std::includes(atUnit.begin(), atUnit.end(), marks.begin(), marks.end())) << what;
    return marks.count(rule) != 0;
}

std::int64_t NextOfType(const TUnits& units, std::int64_t after, std::uint32_t type) {
    for (const TNalUnitSpan& u : units) {
        if (u.Offset > after && NalUnitType(u.Header) == type) {
            return u.Offset;
        }
    }
    return -1;
}

// One element (or a run of them, "first..last") of the unit of a type and occurrence.
struct TEdit {
    std::uint32_t Type;
    int Occurrence;
    const char* Label;
    const char* Replacement;
};

struct TMutation {
    const char* Stream;
    // Made in turn; the last breaks the rule, those before it set the scene.
    std::vector<TEdit> Edits;
    const char* Rule;
    // Where the rule is broken: the unit re-written (0), or the next unit of this type.
    std::uint32_t At = 0;
};

// One element re-written to a value its rule forbids, for every rule one element can
// break. The values written follow the standard's ranges, not the check's code.
// num_ref_frames_in_pic_order_cnt_cycle of 256 where poc_type1 has 3, with the offsets
// that the count adds.
const std::string kCycleOf256 = [] {
    std::string text = "ue:256";
    for (int i = 3; i < 256; ++i) {
        text += " se:0";
    }
    return text;
}();

// cpb_cnt_minus1 of 32: 33 entries, the bit rates rising and the buffer sizes falling.
const std::string kCpbOf33 = [] {
    std::string text;
    for (int i = 0; i < 33; ++i) {
        text += " ue:" + std::to_string(i) + " ue:" + std::to_string(40 - i) + " 0";
    }
    return text;
}();

const TMutation kMutations[] = {
    {"main_cabac", {{kNalSps, 0, "forbidden_zero_bit", "1"}}, "forbidden-zero-bit"},
    {"main_cabac", {{kNalSps, 0, "nal_ref_idc", "u2:0"}}, "nal-ref-idc-non-zero"},
    {"aud_sei", {{kNalSei, 0, "nal_ref_idc", "u2:2"}}, "nal-ref-idc-zero"},
    {"main_cabac", {{kNalSps, 0, "nal_unit_type", "u5:16"}}, "nal-unit-type-reserved"},
    {"main_cabac", {{kNalSps, 0, "profile_idc", "u8:1"}}, "profile-idc-unknown"},
    {"main_cabac", {{kNalSps, 0, "reserved_zero_4bits", "u4:1"}}, "reserved-zero-2bits"},
    {"main_cabac", {{kNalSps, 0, "level_idc", "u8:14"}}, "level-idc-unknown"},
    {"main_cabac", {{kNalSps, 0, "seq_parameter_set_id", "ue:32"}}, "sps-id-range"},
    {"high10", {{kNalSps, 0, "chroma_format_idc", "ue:4"}}, "chroma-format-idc-range"},
    {"high10", {{kNalSps, 0, "bit_depth_luma_minus8", "ue:7"}}, "bit-depth-luma-range"},
    {"high10", {{kNalSps, 0, "bit_depth_chroma_minus8", "ue:7"}}, "bit-depth-chroma-range"},
    {"high10", {{kNalSps, 0, "chroma_format_idc", "ue:2"}}, "profile-chroma-format"},
    {"high10", {{kNalSps, 0, "bit_depth_luma_minus8", "ue:4"}}, "profile-bit-depth"},
    {"high10", {{kNalSps, 0, "qpprime_y_zero_transform_bypass_flag", "1"}},
     "profile-transform-bypass"},
    {"main_cabac", {{kNalSps, 0, "log2_max_frame_num_minus4", "ue:13"}}, "log2-max-frame-num-range"},
    {"baseline_cavlc", {{kNalSps, 0, "pic_order_cnt_type", "ue:3"}}, "pic-order-cnt-type-range"},
    {"main_cabac", {{kNalSps, 0, "log2_max_pic_order_cnt_lsb_minus4", "ue:13"}},
     "log2-max-poc-lsb-range"},
    {"poc_type1", {{kNalSps, 0, "num_ref_frames_in_pic_order_cnt_cycle", kCycleOf256.c_str()}},
     "poc-cycle-range"},
    {"main_cabac", {{kNalSps, 0, "bitstream_restriction_flag..max_dec_frame_buffering", "0"}, {kNalSps, 0, "num_ref_frames", "ue:17"}}, "level-max-num-ref-frames"},
    {"main_cabac", {{kNalSps, 0, "pic_width_in_mbs_minus1", "ue:4000"}}, "level-max-fs"},
    {"interlaced_mbaff", {{kNalSps, 0, "direct_8x8_inference_flag", "0"}},
     "direct-8x8-inference-fields"},
    {"baseline_cavlc", {{kNalSps, 0, "frame_mbs_only_flag", "0 0"}}, "profile-no-interlace"},
    {"crop_170x100", {{kNalSps, 0, "frame_crop_right_offset", "ue:200"}}, "frame-crop-range"},
    {"main_cabac", {{kNalSps, 0, "aspect_ratio_idc", "u8:100"}}, "aspect-ratio-idc-reserved"},
    {"vui_full", {{kNalSps, 0, "video_format", "u3:6"}}, "video-format-reserved"},
    {"vui_full", {{kNalSps, 0, "chroma_sample_loc_type_top_field", "ue:6"}},
     "chroma-sample-loc-range"},
    {"vui_full", {{kNalSps, 0, "num_units_in_tick", "u32:0"}}, "timing-zero"},
    {"main_cabac", {{kNalSps, 0, "max_bytes_per_pic_denom", "ue:17"}}, "max-bytes-bits-denom-range"},
    {"main_cabac", {{kNalSps, 0, "log2_max_mv_length_horizontal", "ue:17"}},
     "log2-max-mv-length-range"},
    {"main_cabac", {{kNalSps, 0, "num_reorder_frames", "ue:5"}}, "num-reorder-frames-range"},
    {"main_cabac", {{kNalSps, 0, "max_dec_frame_buffering", "ue:17"}},
     "level-max-dec-frame-buffering"},
    {"hrd_nal_vbr", {{kNalSps, 0, "bit_rate_value_minus1[0]", "ue:4294967295"}}, "hrd-value-range"},
    {"main_cabac", {{kNalPps, 0, "pic_parameter_set_id", "ue:256"}}, "pps-id-range"},
    {"main_cabac", {{kNalPps, 0, "seq_parameter_set_id", "ue:32"}}, "pps-sps-id-range"},
    {"baseline_cavlc", {{kNalPps, 0, "num_slice_groups_minus1", "ue:8 ue:6 ue:0 u4:0"}},
     "num-slice-groups-range"},
    {"baseline_cavlc", {{kNalPps, 0, "num_slice_groups_minus1", "ue:1 ue:7"}},
     "slice-group-map-type-range"},
    {"main_cabac", {{kNalPps, 0, "num_slice_groups_minus1", "ue:1 ue:6 ue:0 u1:0"}},
     "profile-no-slice-groups"},
    {"main_cabac", {{kNalPps, 0, "num_ref_idx_l0_active_minus1", "ue:32"}},
     "num-ref-idx-default-range"},
    {"main_cabac", {{kNalPps, 0, "weighted_bipred_idc", "u2:3"}}, "weighted-bipred-idc-range"},
    {"main_cabac", {{kNalPps, 0, "pic_init_qs_minus26", "se:-27"}}, "pic-init-qs-range"},
    {"main_cabac", {{kNalPps, 0, "chroma_qp_index_offset", "se:13"}}, "chroma-qp-index-offset-range"},
    {"baseline_cavlc", {{kNalPps, 0, "entropy_coding_mode_flag", "1"}}, "profile-no-cabac"},
    {"baseline_cavlc", {{kNalPps, 0, "weighted_bipred_idc", "u2:1"}},
     "profile-no-weighted-prediction"},
    {"main_cabac", {{kNalPps, 0, "redundant_pic_cnt_present_flag", "1"}},
     "profile-no-redundant-pictures"},
    {"main_cabac", {{kNalPps, 0, "redundant_pic_cnt_present_flag", "0 1 0 se:0"}},
     "profile-no-8x8-transform"},
    {"main_cabac", {{kNalIdrSlice, 0, "first_mb_in_slice", "ue:99"}}, "first-mb-in-slice-range"},
    {"main_cabac", {{kNalIdrSlice, 0, "slice_type", "ue:12"}}, "slice-type-range"},
    {"baseline_cavlc", {{kNalIdrSlice, 0, "no_output_of_prior_pics_flag", "0 0 0"}, {kNalIdrSlice, 0, "slice_type", "ue:5"}}, "idr-slice-type"},
    {"main_cabac", {{kNalIdrSlice, 0, "frame_num", "u4:3"}}, "idr-frame-num-zero"},
    {"main_cabac", {{kNalIdrSlice, 0, "idr_pic_id", "ue:65536"}}, "idr-pic-id-range"},
    {"main_cabac", {{kNalIdrSlice, 0, "slice_qp_delta", "se:30"}}, "slice-qp-range"},
    {"main_cabac", {{kNalIdrSlice, 0, "pic_parameter_set_id", "ue:256"}}, "slice-pps-id-range"},
    {"main_cabac", {{kNalIdrSlice, 0, "pic_parameter_set_id", "ue:5"}}, "slice-pps-missing"},
    {"main_cabac", {{kNalNonIdrSlice, 2, "frame_num", "u4:9"}}, "frame-num-gap"},
    {"main_cabac", {{kNalIdrSlice, 0, "slice_type", "ue:9"}}, "profile-no-switching-slices"},
    {"main_cabac", {{kNalPps, 0, "pic_init_qp_minus26", "se:26"}}, "pic-init-qp-range"},
    {"main_cabac", {{kNalSps, 0, "max_dec_frame_buffering", "ue:3"}},
     "max-dec-frame-buffering-range"},
    {"main_cabac",
     {{kNalSps, 0, "profile_idc", "u8:88"}, {kNalSps, 0, "direct_8x8_inference_flag", "0"}},
     "profile-direct-8x8-inference"},
    {"main_cabac", {{kNalNonIdrSlice, 0, "nal_unit_type", "u5:2"}},
     "profile-no-data-partitioning"},
    {"baseline_cavlc",
     {{kNalNonIdrSlice, 0, "ref_pic_list_modification_flag_l0", "0 0"},
      {kNalNonIdrSlice, 0, "num_ref_idx_l0_active_minus1", "ue:0 ue:0"},
      {kNalNonIdrSlice, 0, "num_ref_idx_active_override_flag", "0 1"},
      {kNalNonIdrSlice, 0, "slice_type", "ue:6"}},
     "profile-no-b-slices"},
    {"main_cabac",
     {{kNalIdrSlice, 0, "no_output_of_prior_pics_flag", "ue:128 0"},
      {kNalPps, 0, "redundant_pic_cnt_present_flag", "1"}},
     "redundant-pic-cnt-range", kNalIdrSlice},
    {"hrd_nal_vbr", {{kNalSps, 0, "cpb_cnt_minus1", "ue:32"}, {kNalSps, 0, "bit_rate_value_minus1[0]..cbr_flag[0]", kCpbOf33.c_str()}},
     "cpb-cnt-range"},
    {"hrd_nal_vbr",
     {{kNalSps, 0, "bit_rate_value_minus1[0]..cbr_flag[0]", "ue:5 ue:5 0 ue:4 ue:4 0"},
      {kNalSps, 0, "cpb_cnt_minus1", "ue:1"}},
     "bit-rate-value-order"},
    {"hrd_nal_vbr",
     {{kNalSps, 0, "bit_rate_value_minus1[0]..cbr_flag[0]", "ue:5 ue:5 0 ue:6 ue:6 0"},
      {kNalSps, 0, "cpb_cnt_minus1", "ue:1"}},
     "cpb-size-value-order"},
    {"baseline_cavlc", {{kNalNonIdrSlice, 0, "num_ref_idx_l0_active_minus1", "ue:16"}},
     "num-ref-idx-active-range"},
    {"baseline_cavlc", {{kNalNonIdrSlice, 0, "ref_pic_list_modification_flag_l0", "1 ue:4 ue:3"}},
     "modification-of-pic-nums-idc-range"},
    {"baseline_cavlc", {{kNalNonIdrSlice, 0, "adaptive_ref_pic_marking_mode_flag", "1 ue:7 ue:0"}},
     "memory-management-control-operation-range"},
    {"aud_sei", {{kNalDelimiter, 1, "primary_pic_type", "u3:0"}}, "slice-type-primary-pic-type",
     kNalNonIdrSlice},
};

// A unit as stored: a four-byte start code, the header byte, the payload.
TBytes UnitBytes(std::uint8_t header, const TBytes& payload = {}) {
    TBytes unit{0, 0, 0, 1, header};
    unit.insert(unit.end(), payload.begin(), payload.end());
    return unit;
}

TBytes Insert(TBytes stream, std::int64_t at, const TBytes& bytes) {
    stream.insert(At(stream, at), bytes.begin(), bytes.end());
    return stream;
}

TBytes Payload(const std::string& elements) {
    BitWriter w;
    w.Put(elements).Trailing();
    return w.Bytes();
}

// A stream changed as a whole (units moved, cut, added or their bytes changed), and where
// the rule is then broken.
struct TChanged {
    TBytes Bytes;
    std::int64_t At;
};

struct TUnitEdit {
    const char* Stream;
    std::function<TChanged(const TBytes&, const TUnits&)> Change;
    const char* Rule;
    // Broken again at every later unit of the kind: told there too.
    bool Recurs = false;
};

const std::uint8_t kSpsExtension = 0x6D; // nal_ref_idc 3

const TUnitEdit kUnitEdits[] = {
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         TBytes c = b;
         const auto at = slice.Offset + 40;
         c[Z(at)] = 0, c[Z(at + 1)] = 0, c[Z(at + 2)] = 2;
         return TChanged{c, slice.Offset};
     },
     "emulation-forbidden-sequence"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         return TChanged{Insert(b, slice.Offset + 40, {0, 0, 3, 7}), slice.Offset};
     },
     "emulation-prevention-byte"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& sps = UnitOf(u, kNalSps, 0);
         return TChanged{Insert(b, sps.PayloadEnd, {0x80}), sps.Offset};
     },
     "rbsp-trailing-bits"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& sps = UnitOf(u, kNalSps, 0);
         TBytes c = Slice(b, 0, sps.Offset + sps.StartCodeLength + 4);
         c.insert(c.end(), At(b, sps.Offset + sps.Length), b.end());
         return TChanged{c, sps.Offset};
     },
     "payload-ends-early"},
    {"main_cabac",
     [](const TBytes& b, const TUnits&) {
         return TChanged{Insert(b, static_cast<std::int64_t>(b.size()), UnitBytes(0x0A, {0x80})),
                         static_cast<std::int64_t>(b.size())};
     },
     "end-unit-payload"},
    {"hrd_cbr_filler",
     [](const TBytes& b, const TUnits& u) {
         const auto& filler = UnitOf(u, kNalFiller, 0);
         TBytes c = b;
         c[Z(filler.Offset + filler.StartCodeLength + 1)] = 0xFE;
         return TChanged{c, filler.Offset};
     },
     "filler-data-byte"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& pps = UnitOf(u, kNalPps, 0);
         return TChanged{Insert(b, pps.Offset, UnitBytes(kSpsExtension, Payload("ue:32 ue:0 0"))),
                         pps.Offset};
     },
     "sps-extension-id-range"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& pps = UnitOf(u, kNalPps, 0);
         return TChanged{Insert(b, pps.Offset, UnitBytes(kSpsExtension, Payload("ue:0 ue:4 ue:0 0 u9:1 u9:0 0"))),
                         pps.Offset};
     },
     "aux-format-idc-range"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& pps = UnitOf(u, kNalPps, 0);
         return TChanged{Insert(b, pps.Offset, UnitBytes(kSpsExtension,
                                                         Payload("ue:0 ue:1 ue:5 0 u14:1 u14:0 0"))),
                         pps.Offset};
     },
     "bit-depth-aux-range"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& pps = UnitOf(u, kNalPps, 0);
         return TChanged{Insert(b, pps.Offset, UnitBytes(kSpsExtension, Payload("ue:0 ue:0 1"))),
                         pps.Offset};
     },
     "additional-extension-flag"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& idr = UnitOf(u, kNalIdrSlice, 0);
         return TChanged{Insert(b, idr.Offset, UnitBytes(0x06, {5, 200, 1, 2, 3, 0x80})),
                         idr.Offset};
     },
     "sei-payload-size"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& idr = UnitOf(u, kNalIdrSlice, 0);
         return TChanged{Insert(b, idr.Offset, UnitBytes(0x06, {0x80})), idr.Offset};
     },
     "sei-no-message"},
    {"baseline_cavlc",
     [](const TBytes& b, const TUnits& u) {
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         return TChanged{Insert(b, slice.PayloadEnd, {0, 0, 3}), slice.Offset};
     },
     "cabac-zero-words-cavlc"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& pps = UnitOf(u, kNalPps, 0);
         return TChanged{Insert(b, pps.Offset, {0, 0, 1}), pps.Offset};
     },
     "nal-unit-empty"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         // The sets, then the pictures from the first that is not an IDR picture.
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         const auto& pps = UnitOf(u, kNalPps, 0);
         TBytes c = Slice(b, 0, pps.Offset + pps.Length);
         const auto at = static_cast<std::int64_t>(c.size());
         c.insert(c.end(), At(b, slice.Offset), b.end());
         return TChanged{c, at};
     },
     "stream-starts-without-idr"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         return TChanged{Insert(b, slice.Offset, UnitBytes(0x0A)), slice.Offset + 5};
     },
     "idr-after-end-of-sequence"},
    {"aud_sei",
     [](const TBytes& b, const TUnits& u) {
         // The first delimiter after the sequence parameter set.
         const auto& aud = UnitOf(u, kNalDelimiter, 0);
         const auto& sps = UnitOf(u, kNalSps, 0);
         TBytes c = Slice(b, sps.Offset, sps.Offset + sps.Length);
         c.insert(c.end(), At(b, aud.Offset), At(b, aud.Offset + aud.Length));
         c.insert(c.end(), At(b, sps.Offset + sps.Length), b.end());
         return TChanged{c, sps.Length};
     },
     "aud-not-first"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         return TChanged{Insert(b, slice.Offset, UnitBytes(0x0B)), slice.Offset + 5};
     },
     "unit-after-end-of-stream"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& idr = UnitOf(u, kNalIdrSlice, 0);
         return TChanged{Insert(b, idr.Offset, UnitBytes(0x0A)), idr.Offset};
     },
     "end-of-sequence-before-picture"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& idr = UnitOf(u, kNalIdrSlice, 0);
         return TChanged{Insert(b, idr.Offset, UnitBytes(0x0C, {0xFF, 0x80})), idr.Offset};
     },
     "filler-before-picture"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& sei = UnitOf(u, kNalSei, 0);
         return TChanged{Insert(b, static_cast<std::int64_t>(b.size()),
                                Slice(b, sei.Offset, sei.PayloadEnd)),
                         static_cast<std::int64_t>(b.size())};
     },
     "access-unit-without-picture"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         // The sequence set sent again before a P picture, with another level.
         const auto& sps = UnitOf(u, kNalSps, 0);
         const auto& slice = UnitOf(u, kNalNonIdrSlice, 0);
         TBytes changed = Slice(b, sps.Offset, sps.PayloadEnd);
         changed[Z(sps.StartCodeLength + 3)] = 12;
         return TChanged{Insert(b, slice.Offset, changed), slice.Offset};
     },
     "sps-changed-without-idr"},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& sps = UnitOf(u, kNalSps, 0);
         TBytes c = Rewrite(b, UnitOf(u, kNalPps, 0), "seq_parameter_set_id", "ue:1");
         return TChanged{c, NextOfType(NaiveUnits(c, 0), sps.Offset, kNalIdrSlice)};
     },
     "slice-sps-missing", true},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         // Each set cut after its first bytes: no set the slices name can be read.
         TBytes c = b;
         for (const std::uint32_t type : {kNalPps, kNalSps}) {
             const TUnits now = NaiveUnits(c, 0);
             const auto& set = UnitOf(now, type, 0);
             c.erase(At(c, set.Offset + set.StartCodeLength + 3), At(c, set.PayloadEnd));
         }
         return TChanged{c, NextOfType(NaiveUnits(c, 0), u.front().Offset, kNalIdrSlice)};
     },
     "slice-pps-unreadable", true},
    {"main_cabac",
     [](const TBytes& b, const TUnits& u) {
         const auto& sps = UnitOf(u, kNalSps, 0);
         TBytes c = b;
         c.erase(At(c, sps.Offset + sps.StartCodeLength + 3), At(c, sps.PayloadEnd));
         return TChanged{c, NextOfType(NaiveUnits(c, 0), sps.Offset, kNalIdrSlice)};
     },
     "slice-sps-unreadable", true},
};

// Rules no change of a small stream can break: a unit larger than the check keeps whole
// would take tens of megabytes.
const std::set<std::string> kNotMutated = {"unit-not-checked-whole"};

TEST(StreamCheck, MutationOracle) {
    std::set<std::string> covered = kNotMutated;
    int marked = 0; // rules the unit's tree marks too
    for (const TMutation& m : kMutations) {
        const TBytes stream = ReadAll(TestDataPath(std::string(m.Stream) + ".264"));
        const TUnits units = NaiveUnits(stream, 0);
        const TEdit& last = m.Edits.back();
        const TNalUnitSpan& unit = UnitOf(units, last.Type, last.Occurrence);
        TBytes mutated = stream;
        for (const TEdit& edit : m.Edits) {
            const TUnits now = NaiveUnits(mutated, 0);
            mutated = Rewrite(mutated, UnitOf(now, edit.Type, edit.Occurrence), edit.Label,
                              edit.Replacement);
        }
        const std::int64_t at =
            m.At == 0 ? unit.Offset : NextOfType(NaiveUnits(mutated, 0), unit.Offset, m.At);
        marked += ExpectOnly(mutated, at, m.Rule, std::string(m.Stream) + " " + last.Label, false);
        covered.insert(m.Rule);
    }
    for (const TUnitEdit& e : kUnitEdits) {
        const TBytes stream = ReadAll(TestDataPath(std::string(e.Stream) + ".264"));
        const TChanged changed = e.Change(stream, NaiveUnits(stream, 0));
        marked += ExpectOnly(changed.Bytes, changed.At, e.Rule, e.Rule, e.Recurs);
        covered.insert(e.Rule);
    }
    // Every rule has its change.
    std::set<std::string> all;
    for (const TRule* rule = TRule::First(); rule != nullptr; rule = rule->Next()) {
        all.insert(rule->Id);
    }
    EXPECT_EQ(covered, all);
    // Those of the header, the bytes, the parameter sets' own elements and the small units.
    EXPECT_GE(marked, 45);
}

// No error and no warning on any stream of tests/data: x264 across its profiles and
// options, OpenH264 (check/make_streams.sh), and the streams made by hand; the one made to
// lose a reference picture breaks the frame_num rule alone.
TEST(StreamCheck, QuietOnConformingStreams) {
    int streams = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() != ".264") {
            continue;
        }
        ++streams;
        const TBytes bytes = ReadAll(entry.path().string());
        // The streams made to break a rule break that one alone.
        const std::string name = entry.path().filename().string();
        const std::set<std::string> expected =
            name == "lost_reference.264" ? std::set<std::string>{"frame-num-gap"}
                                         : std::set<std::string>{};
        std::set<std::string> found;
        for (const TFound& f : Check(bytes)) {
            if (f.Severity != TSeverity::Note) {
                found.insert(f.Rule);
            }
        }
        EXPECT_EQ(found, expected) << name;
        for (const TNalUnitSpan& unit : NaiveUnits(bytes, 0)) {
            EXPECT_TRUE(TreeMarks(bytes, unit.Offset).empty()) << entry.path().filename();
        }
    }
    EXPECT_GE(streams, 30);
}

// Bytes changed at random, start codes put in, streams cut: the check ends, and every
// problem it tells is at a unit of the stream.
TEST(StreamCheck, RandomMutationsTellProblemsAtUnits) {
    std::mt19937 random(36);
    for (const char* name : {"main_cabac", "aud_sei", "interlaced_mbaff", "check/check_openh264_layers",
                             "hrd_cbr_filler"}) {
        const TBytes stream = ReadAll(TestDataPath(std::string(name) + ".264"));
        for (int round = 0; round < 40; ++round) {
            TBytes b = stream;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < changes; ++i) {
                const auto at = random() % b.size();
                switch (random() % 3) {
                case 0:
                    b[at] = static_cast<std::uint8_t>(random());
                    break;
                case 1:
                    b = Insert(b, static_cast<std::int64_t>(at), {0, 0, 1});
                    break;
                default:
                    b.resize(std::max<std::size_t>(at, 8));
                }
            }
            std::set<std::int64_t> offsets;
            for (const TNalUnitSpan& u : NaiveUnits(b, 0)) {
                offsets.insert(u.Offset);
            }
            for (const TFound& f : Check(b)) {
                EXPECT_TRUE(offsets.count(f.Offset)) << name << " " << f.Rule << " at " << f.Offset;
            }
        }
    }
}

// The search for the forbidden sequences against the rule read byte by byte: payloads
// rich in zeros and small bytes, of every length around a word, at every alignment.
TEST(StreamCheck, PayloadBytesAsTheRuleReadsThem) {
    std::mt19937 random(3);
    static constexpr std::uint8_t kBytes[] = {0, 0, 0, 0, 1, 2, 3, 3, 4, 0x80, 0xFF};
    for (int round = 0; round < 20000; ++round) {
        TBytes bytes(1 + random() % 40);
        for (auto& b : bytes) {
            b = kBytes[random() % std::size(kBytes)];
        }
        const std::size_t from = random() % 8; // the payload's alignment
        const TBytes payload(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size() - 1)),
                             bytes.end());
        bool forbidden = false;
        bool badEmulation = false;
        for (std::size_t i = 0; i + 2 < payload.size(); ++i) {
            if (payload[i] == 0 && payload[i + 1] == 0) {
                forbidden = forbidden || payload[i + 2] <= 2;
                badEmulation =
                    badEmulation || (payload[i + 2] == 3 && i + 3 < payload.size() && payload[i + 3] > 3);
            }
        }
        TCollect found;
        TUnitProblems problems(found, 0, 0);
        CheckPayloadBytes(payload.data(), static_cast<std::int32_t>(payload.size()), problems);
        std::set<std::string> rules;
        for (const TFound& f : found.All) {
            rules.insert(f.Rule);
        }
        EXPECT_EQ(rules.count("emulation-forbidden-sequence") != 0, forbidden);
        if (!forbidden) {
            EXPECT_EQ(rules.count("emulation-prevention-byte") != 0, badEmulation);
        }
    }
}

} // namespace
