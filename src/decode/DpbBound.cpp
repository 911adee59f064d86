#include "decode/DpbBound.h"

#include "model/Levels.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

class TBitWriter {
  public:
    void Bit(std::uint32_t bit) {
        if (FFree == 0) {
            Bytes.push_back(0);
            FFree = 8;
        }
        --FFree;
        Bytes.back() |= static_cast<std::uint8_t>((bit & 1) << FFree);
    }
    void Ue(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t{value} + 1;
        int length = 0;
        while ((code >> (length + 1)) != 0) {
            ++length;
        }
        for (int i = 0; i < length; ++i) {
            Bit(0);
        }
        for (int i = length; i >= 0; --i) {
            Bit(static_cast<std::uint32_t>(code >> i));
        }
    }
    std::vector<std::uint8_t> Bytes;

  private:
    int FFree = 0;
};

std::uint32_t BitAt(const std::vector<std::uint8_t>& bytes, std::int64_t bit) {
    return (bytes[static_cast<std::size_t>(bit / 8)] >> (7 - bit % 8)) & 1u;
}

std::uint32_t UeAt(const std::vector<std::uint8_t>& rbsp, const TBitSpan& span) {
    TBitStream4 reader;
    reader.SetData(rbsp.data(), static_cast<std::int32_t>(rbsp.size()));
    for (std::int64_t skip = span.First; skip > 0;) {
        const int n = static_cast<int>(std::min<std::int64_t>(skip, 24));
        reader.ReadBits(n);
        skip -= n;
    }
    return reader.ReadUE();
}

// The bits of one element, or of a flag and what it brings, in place of the element's.
struct TEdit {
    TBitSpan Span;
    std::function<void(TBitWriter&)> Write;
};

TEdit UeEdit(const TBitSpan& span, std::uint32_t value) {
    return {span, [value](TBitWriter& w) { w.Ue(value); }};
}

// bitstream_restriction_flag 1 and what follows it: the defaults the absent elements
// stand for, and the output delay and buffer of frames.
void WriteRestriction(TBitWriter& w, std::uint32_t frames) {
    w.Bit(1);     // bitstream_restriction_flag
    w.Bit(1);     // motion_vectors_over_pic_boundaries_flag
    w.Ue(2);      // max_bytes_per_pic_denom
    w.Ue(1);      // max_bits_per_mb_denom
    w.Ue(15);     // log2_max_mv_length_horizontal
    w.Ue(15);     // log2_max_mv_length_vertical
    w.Ue(frames); // max_num_reorder_frames
    w.Ue(frames); // max_dec_frame_buffering
}

} // namespace

std::uint64_t FrameSizeInMbs(const TSeqParameterSet& sps) {
    return (std::uint64_t{sps.pic_width_in_mbs_minus1} + 1) *
           (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
           (sps.frame_mbs_only_flag != 0 ? 1 : 2);
}

std::uint32_t BoundedReferenceFrames(const TSeqParameterSet& sps) {
    return std::max<std::uint32_t>(MaxDpbFrames(HighestLevel(), FrameSizeInMbs(sps)), 1);
}

std::string ReferenceBoundNote(const TSeqParameterSet& sps) {
    const std::uint32_t bound = BoundedReferenceFrames(sps);
    if (sps.num_ref_frames <= bound) {
        return {};
    }
    return "the stream declares " + std::to_string(sps.num_ref_frames) +
           " reference frames, more than level " + HighestLevel().Name + " allows at " +
           std::to_string(std::uint64_t{sps.pic_width_in_mbs_minus1 + 1} * 16) + "x" +
           std::to_string((std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
                          (sps.frame_mbs_only_flag != 0 ? 16 : 32)) +
           " (" + std::to_string(bound) + "): the decoder kept " + std::to_string(bound);
}

bool BoundSequenceSet(const std::uint8_t* unit, std::size_t size, std::vector<std::uint8_t>& out) {
    if (size < 2 || size > static_cast<std::size_t>(TBitStream4::kMaxLength)) {
        return false;
    }
    std::vector<std::uint8_t> rbsp(size - 1);
    std::int32_t length = 0;
    Remove_emulation_prevention_three_bytes(unit + 1, static_cast<std::int32_t>(size - 1),
                                            rbsp.data(), length);
    rbsp.resize(static_cast<std::size_t>(length));
    TBitStream4 reader;
    std::vector<TBitSpan> spans;
    reader.SetSpanLog(&spans);
    auto sps = std::make_unique<TSeqParameterSet>();
    if (length == 0 || reader.SetData(rbsp.data(), length) != kStatusOk ||
        !Parse_seq_parameter_set_rbsp(reader, *sps) || reader.Error() != 0) {
        return false;
    }
    const std::uint32_t bound = BoundedReferenceFrames(*sps);
    std::vector<TEdit> edits;
    // num_ref_frames's place among the elements read, by the presence rules the parse
    // and the tree share (a structure line is an empty entry).
    if (sps->num_ref_frames > bound) {
        const TSeqParameterSet& set = *sps;
        std::size_t index = 8; // profile_idc to seq_parameter_set_id
        if (SpsPresence::ChromaBlock(set)) {
            index += SpsPresence::ResidualColourTransform(set) ? 6 : 5;
            for (std::int32_t i = 0; i < SpsPresence::ScalingListFlags(set); ++i) {
                index += SpsPresence::ScalingList(set, i) ? 2 : 1;
            }
        }
        index += SpsPresence::SvcExtension(set) ? 3 : 2; // log2_max_frame_num, the POC type
        if (SpsPresence::PicOrderCntLsb(set)) {
            index += 1;
        } else if (SpsPresence::PicOrderCntCycle(set)) {
            index += 4 + static_cast<std::size_t>(SpsPresence::OffsetForRefFrameHeld(set));
        }
        if (index + 1 >= spans.size() || spans[index].First < 0 ||
            UeAt(rbsp, spans[index]) != set.num_ref_frames || spans[index + 1].Bits != 1) {
            return false;
        }
        edits.push_back(UeEdit(spans[index], bound));
    }
    if (sps->num_ref_frames > bound && edits.empty()) {
        return false;
    }
    // The VUI's last two elements, which end the set's elements.
    const TVuiParameters& vui = sps->vui_parameters;
    const bool restricted =
        sps->vui_parameters_present_flag != 0 && vui.bitstream_restriction_flag != 0;
    if (!restricted) {
        // Without the VUI's restriction the decoder may hold back as many pictures as the
        // buffer takes before it gives one out; a decoder that starts with none held back,
        // as libavcodec does, drops the pictures that then come out of order (B pictures
        // whose POC lies before the IDR picture decoded before them). Said outright: the
        // buffer's frames, by the set's own level where it has one the picture fits.
        const std::optional<TLevelLimits> level =
            LevelOf(sps->profile_idc, sps->constraint_set3_flag, sps->level_idc);
        const std::uint32_t levelFrames = level ? MaxDpbFrames(*level, FrameSizeInMbs(*sps)) : 0;
        const std::uint32_t frames =
            std::min(std::max({levelFrames, std::min(sps->num_ref_frames, bound), 1u}), bound);
        // The flag that ends the elements read: vui_parameters_present_flag, or the VUI's
        // bitstream_restriction_flag.
        const TBitSpan flag = spans.empty() ? TBitSpan{} : spans.back();
        if (flag.First < 0 || flag.Bits != 1 || BitAt(rbsp, flag.First) != 0) {
            return false;
        }
        const bool withVui = sps->vui_parameters_present_flag != 0;
        edits.push_back({flag, [withVui, frames](TBitWriter& w) {
                             if (!withVui) {
                                 w.Bit(1); // vui_parameters_present_flag
                                 for (int i = 0; i < 8; ++i) {
                                     w.Bit(0); // aspect ratio to pic_struct: none
                                 }
                             }
                             WriteRestriction(w, frames);
                         }});
    }
    if (restricted && spans.size() >= 2 &&
        (vui.num_reorder_frames > bound || vui.max_dec_frame_buffering > bound)) {
        const TBitSpan reorder = spans[spans.size() - 2];
        const TBitSpan buffering = spans.back();
        if (UeAt(rbsp, reorder) != vui.num_reorder_frames ||
            UeAt(rbsp, buffering) != vui.max_dec_frame_buffering) {
            return false;
        }
        edits.push_back(UeEdit(reorder, std::min(vui.num_reorder_frames, bound)));
        edits.push_back(UeEdit(buffering, std::min(vui.max_dec_frame_buffering, bound)));
    }
    if (edits.empty()) {
        return false;
    }
    // The bits up to the stop bit, with the edited elements written anew, then the stop bit.
    std::int64_t stop = std::int64_t{length} * 8 - 1;
    while (stop >= 0 && BitAt(rbsp, stop) == 0) {
        --stop;
    }
    // A set whose elements run on past its stop bit (into the zeros after it) would read
    // otherwise once the stop bit moves: it goes as it is.
    for (const TBitSpan& span : spans) {
        if (span.First >= 0 && span.First + span.Bits > stop) {
            return false;
        }
    }
    TBitWriter writer;
    std::int64_t bit = 0;
    for (const TEdit& edit : edits) {
        for (; bit < edit.Span.First; ++bit) {
            writer.Bit(BitAt(rbsp, bit));
        }
        edit.Write(writer);
        bit = edit.Span.First + edit.Span.Bits;
    }
    for (; bit < stop; ++bit) {
        writer.Bit(BitAt(rbsp, bit));
    }
    writer.Bit(1);
    out.assign(unit, unit + 1);
    std::size_t zeros = 0;
    for (const std::uint8_t byte : writer.Bytes) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return true;
}

void BoundSequenceSetUnit(std::vector<std::uint8_t>& unit) {
    const int startCode = StartCodeLength(unit.data(), static_cast<std::int32_t>(unit.size()));
    if (startCode == 0 || unit.size() <= static_cast<std::size_t>(startCode)) {
        return;
    }
    std::vector<std::uint8_t> bounded;
    if (BoundSequenceSet(unit.data() + startCode, unit.size() - static_cast<std::size_t>(startCode),
                         bounded)) {
        unit.resize(static_cast<std::size_t>(startCode));
        unit.insert(unit.end(), bounded.begin(), bounded.end());
    }
}

void BoundSequenceSetsIn(std::vector<std::uint8_t>& units) {
    static constexpr std::uint8_t kStart[] = {0, 0, 0, 1};
    std::vector<std::uint8_t> out;
    auto at = std::search(units.begin(), units.end(), std::begin(kStart), std::end(kStart));
    while (at != units.end()) {
        const auto next = std::search(at + 4, units.end(), std::begin(kStart), std::end(kStart));
        std::vector<std::uint8_t> unit(at, next);
        if (unit.size() > 4 && (unit[4] & 31) == kNalSps) {
            BoundSequenceSetUnit(unit);
        }
        out.insert(out.end(), unit.begin(), unit.end());
        at = next;
    }
    units.swap(out);
}
