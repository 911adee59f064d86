#include "model/LevelCheck.h"

#include "model/Exact.h"
#include "model/Hrd.h"
#include "model/Levels.h"

namespace {

std::string Text(std::uint64_t value) {
    return std::to_string(value);
}

// A rate per second as a fraction, to three decimals.
std::string PerSecond(const TExact& numerator, const TExact& denominator) {
    return TExact::Fraction(numerator, denominator, 3);
}

} // namespace

const char* TLevelCheck::Covered() {
    return "MaxFS (and sqrt(8 MaxFS) a side), MaxDpbMbs (num_ref_frames and "
           "max_dec_frame_buffering), MaxBR and MaxCPB (each schedule, with the profile's "
           "factor), MaxMBPS, MinCR and the slices per picture (from the removal times, or the "
           "frame rate without them); not the vector limits, which need the macroblocks";
}

void TLevelCheck::Report(const THrdAccessUnit& au, bool perSet, const char* limit,
                         const std::string& value, const std::string& bound) {
    ++FViolations;
    TLevelViolation v;
    v.Index = perSet ? -1 : au.Index;
    v.Offset = au.Offset;
    const TSeqParameterSet& sps = *au.Sps;
    const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc);
    v.Level = level ? level->Name : Text(sps.level_idc);
    v.Limit = limit;
    v.Value = value;
    v.Bound = bound;
    FSink(v);
}

void TLevelCheck::CheckSet(const THrdAccessUnit& au) {
    const TSeqParameterSet& sps = *au.Sps;
    const TVuiParameters& vui = sps.vui_parameters;
    const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc);
    if (!level) {
        Report(au, true, "level_idc", Text(sps.level_idc), "a level of the table");
        return;
    }
    const std::uint64_t width = std::uint64_t{sps.pic_width_in_mbs_minus1} + 1;
    const std::uint64_t height = (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
                                 (sps.frame_mbs_only_flag != 0 ? 1 : 2);
    const std::uint64_t frame = width * height;
    if (frame > level->MaxFS) {
        Report(au, true, "MaxFS", Text(frame) + " macroblocks a frame", Text(level->MaxFS));
    }
    // Neither side may exceed Sqrt(MaxFS * 8).
    for (const std::uint64_t side : {width, height}) {
        if (side * side > 8ull * level->MaxFS) {
            Report(au, true, side == width ? "MaxFS (width)" : "MaxFS (height)",
                   Text(side) + " macroblocks", "sqrt(" + Text(8ull * level->MaxFS) + ")");
        }
    }
    const std::uint32_t dpbFrames = MaxDpbFrames(*level, frame);
    if (sps.num_ref_frames > dpbFrames) {
        Report(au, true, "MaxDpbMbs (num_ref_frames)", Text(sps.num_ref_frames) + " frames",
               Text(dpbFrames) + " frames of " + Text(frame) + " macroblocks in " +
                   Text(level->MaxDpbMbs));
    }
    if (SpsPresence::Vui(sps) && VuiPresence::BitstreamRestriction(vui) &&
        vui.max_dec_frame_buffering > dpbFrames) {
        Report(au, true, "MaxDpbMbs (max_dec_frame_buffering)",
               Text(vui.max_dec_frame_buffering) + " frames",
               Text(dpbFrames) + " frames of " + Text(frame) + " macroblocks in " +
                   Text(level->MaxDpbMbs));
    }
    const TBitRateFactors factors = BitRateFactors(sps.profile_idc);
    for (const THrdSchedule& s : SchedulesOf(sps)) {
        const std::uint64_t factor = s.Kind == THrdKind::Nal ? factors.Nal : factors.Vcl;
        const std::string which = std::string(s.Kind == THrdKind::Nal ? "NAL" : "VCL") +
                                  " schedule " + Text(static_cast<std::uint64_t>(s.Index));
        if (s.BitRate > factor * level->MaxBR) {
            Report(au, true, "MaxBR", which + ": " + Text(s.BitRate) + " bit/s",
                   Text(factor * level->MaxBR));
        }
        if (s.CpbSize > factor * level->MaxCPB) {
            Report(au, true, "MaxCPB", which + ": " + Text(s.CpbSize) + " bits",
                   Text(factor * level->MaxCPB));
        }
    }
}

void TLevelCheck::Next(const THrdAccessUnit& au) {
    if (au.Sps == nullptr || !au.HasPicture) {
        ++FUnchecked;
        FHavePrevious = false;
        return;
    }
    const TSeqParameterSet& sps = *au.Sps;
    const TVuiParameters& vui = sps.vui_parameters;
    std::uint32_t hrdKey = 0;
    for (const THrdSchedule& s : SchedulesOf(sps)) {
        hrdKey = hrdKey * 31u + static_cast<std::uint32_t>(s.BitRate ^ (s.BitRate >> 32)) * 7u +
                 static_cast<std::uint32_t>(s.CpbSize ^ (s.CpbSize >> 32));
    }
    const std::array<std::uint32_t, 8> key = {
        sps.profile_idc,
        sps.level_idc | (sps.constraint_set3_flag << 8),
        sps.pic_width_in_mbs_minus1,
        sps.pic_height_in_map_units_minus1,
        sps.frame_mbs_only_flag,
        sps.num_ref_frames,
        VuiPresence::BitstreamRestriction(vui) ? vui.max_dec_frame_buffering + 1 : 0,
        hrdKey};
    if (!FSetChecked || key != FSetKey) {
        FSetChecked = true;
        FSetKey = key;
        CheckSet(au);
    }
    const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc);
    // The time since the previous removal, in ticks: from the removal delays (within a
    // buffering period, or from its first unit), or a frame's two ticks without them.
    const TSeiTiming& timing = au.Timing;
    std::int64_t ticks = 0;
    const bool timed = SpsPresence::Vui(sps) && VuiPresence::Timing(vui) &&
                       vui.num_units_in_tick != 0 && vui.time_scale != 0;
    if (FHavePrevious && timed) {
        if (timing.PicTimingDelays) {
            ticks = std::int64_t{timing.CpbRemovalDelay} -
                    (FPreviousPeriod ? 0 : std::int64_t{FPreviousDelay});
        } else {
            ticks = au.Field ? 1 : 2;
        }
    } else if (FHavePrevious) {
        ++FUntimed;
    }
    if (level && ticks > 0) {
        // Seconds = ticks * num_units_in_tick / time_scale; every bound below is compared
        // with both sides multiplied by time_scale.
        const TExact span = TExact(ticks) * TExact(std::int64_t{vui.num_units_in_tick});
        const TExact scale(std::int64_t{vui.time_scale});
        const TExact mbps(std::int64_t{level->MaxMBPS});
        // MaxMBPS: the previous picture's macroblocks in the time to this removal.
        if (TExact(static_cast<std::int64_t>(FPreviousMbs)) * scale > mbps * span) {
            Report(au, false, "MaxMBPS",
                   PerSecond(TExact(static_cast<std::int64_t>(FPreviousMbs)) * scale, span) +
                       " macroblocks/s",
                   Text(level->MaxMBPS));
        }
        // MinCR: the access unit's bytes against 384 MaxMBPS times the time, over MinCR.
        const TExact bytes(au.UnitBytes);
        const TExact mincr(std::int64_t{level->MinCR});
        if (bytes * mincr * scale > TExact(384) * mbps * span) {
            Report(au, false, "MinCR", Text(static_cast<std::uint64_t>(au.UnitBytes)) + " bytes",
                   PerSecond(TExact(384) * mbps * span, mincr * scale) + " bytes");
        }
        const bool sliceRated = sps.profile_idc != 66 && sps.profile_idc != 88;
        if (sliceRated && level->SliceRate != 0 &&
            TExact(au.Slices) * TExact(std::int64_t{level->SliceRate}) * scale > mbps * span) {
            Report(au, false, "SliceRate", Text(static_cast<std::uint64_t>(au.Slices)) + " slices",
                   PerSecond(mbps * span, TExact(std::int64_t{level->SliceRate}) * scale));
        }
    }
    FHavePrevious = true;
    FPreviousMbs = au.PicSizeInMbs;
    FPreviousPeriod = timing.BufferingPeriod;
    FPreviousDelay = timing.CpbRemovalDelay;
}
