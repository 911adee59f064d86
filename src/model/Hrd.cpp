#include "model/Hrd.h"

#include "model/Levels.h"

#include <algorithm>

namespace {

constexpr std::int64_t kClock = 90000;

TExact Lcm(const TExact& a, const TExact& b) {
    return TExact::DivFloor(a, TExact::Gcd(a, b)) * b;
}

const THrdParameters* HrdOf(const TSeqParameterSet& sps, THrdKind kind) {
    const TVuiParameters& vui = sps.vui_parameters;
    if (!SpsPresence::Vui(sps)) {
        return nullptr;
    }
    if (kind == THrdKind::Nal) {
        return VuiPresence::NalHrd(vui) ? &vui.nal_hrd_parameters : nullptr;
    }
    return VuiPresence::VclHrd(vui) ? &vui.vcl_hrd_parameters : nullptr;
}

bool SameFigures(const THrdSchedule& a, const THrdSchedule& b) {
    return a.BitRate == b.BitRate && a.CpbSize == b.CpbSize && a.Cbr == b.Cbr &&
           a.LowDelay == b.LowDelay && a.NumUnitsInTick == b.NumUnitsInTick &&
           a.TimeScale == b.TimeScale;
}

} // namespace

THrdSchedule ScheduleOf(THrdKind kind, const TVuiParameters& vui, std::int32_t i) {
    const THrdParameters& hrd = kind == THrdKind::Nal ? vui.nal_hrd_parameters : vui.vcl_hrd_parameters;
    THrdSchedule s;
    s.Kind = kind;
    s.Index = i;
    // At most 2^32 * 2^21 and 2^32 * 2^19: both fit in 64 bits.
    s.BitRate = (std::uint64_t{hrd.bit_rate_value_minus1[i]} + 1) << (6 + (hrd.bit_rate_scale & 15));
    s.CpbSize = (std::uint64_t{hrd.cpb_size_value_minus1[i]} + 1) << (4 + (hrd.cpb_size_scale & 15));
    s.Cbr = hrd.cbr_flag[i] != 0;
    s.LowDelay = vui.low_delay_hrd_flag != 0;
    if (VuiPresence::Timing(vui)) {
        s.NumUnitsInTick = vui.num_units_in_tick;
        s.TimeScale = vui.time_scale;
    }
    return s;
}

std::vector<THrdSchedule> SchedulesOf(const TSeqParameterSet& sps) {
    std::vector<THrdSchedule> schedules;
    for (const THrdKind kind : {THrdKind::Nal, THrdKind::Vcl}) {
        const THrdParameters* hrd = HrdOf(sps, kind);
        for (std::int32_t i = 0; hrd != nullptr && i < HrdCpbEntriesHeld(*hrd); ++i) {
            schedules.push_back(ScheduleOf(kind, sps.vui_parameters, i));
        }
    }
    return schedules;
}

const char* HrdProblemName(THrdProblem problem) {
    switch (problem) {
    case THrdProblem::Underflow:
        return "underflow";
    case THrdProblem::Overflow:
        return "overflow";
    case THrdProblem::InitialDelay:
        return "initial delay";
    case THrdProblem::OutputOrder:
        return "output order";
    case THrdProblem::DpbFullness:
        return "picture buffer";
    case THrdProblem::Timing:
        return "timing";
    case THrdProblem::Skipped:
        return "not modelled";
    }
    return "";
}

THrdModel::THrdModel(const THrdSchedule& schedule) : FSchedule(schedule) {
    if (schedule.NumUnitsInTick == 0 || schedule.TimeScale == 0) {
        FStopReason = "the clock tick is zero (num_units_in_tick " +
                      std::to_string(schedule.NumUnitsInTick) + ", time_scale " +
                      std::to_string(schedule.TimeScale) + "): no removal time can be known";
        return;
    }
    const auto rate = static_cast<std::int64_t>(schedule.BitRate);
    FD = Lcm(Lcm(TExact(kClock), TExact(schedule.TimeScale)), TExact(rate));
    FPerBit = TExact::DivFloor(FD, TExact(rate));
    FPer90k = TExact::DivFloor(FD, TExact(kClock));
    FTick = TExact::DivFloor(FD, TExact(schedule.TimeScale)) * TExact(schedule.NumUnitsInTick);
}

TExact THrdModel::Seconds90k(std::uint64_t count) const {
    return FPer90k * TExact(static_cast<std::int64_t>(count));
}

void THrdModel::Stop(IHrdSink& sink, std::int64_t index, std::int64_t offset,
                     const std::string& why) {
    FStopReason = why;
    ++FProblems;
    sink.Problem(THrdProblem::Timing, index, offset, why + "; the model stops here");
    FPending.clear();
}

void THrdModel::Report(IHrdSink& sink, THrdProblem problem, const THrdAccessUnit& au,
                       const std::string& text) {
    FProblems += problem != THrdProblem::Skipped ? 1 : 0;
    sink.Problem(problem, au.Index, au.Offset, text);
}

void THrdModel::Next(const THrdAccessUnit& au, IHrdSink& sink) {
    if (Stopped()) {
        if (!FStarted && FProblems == 0) {
            FStarted = true; // said once, at the first unit
            Stop(sink, au.Index, au.Offset, FStopReason);
        }
        return;
    }
    const THrdKind kind = FSchedule.Kind;
    const int k = kind == THrdKind::Nal ? 0 : 1;
    const TSeiTiming& timing = au.Timing;
    const bool first = !FStarted;
    bool period = false;
    std::uint64_t delay = FInitialDelay;
    std::uint64_t offset = FInitialOffset;
    if (!FSchedule.WhatIf) {
        if (au.Sps != nullptr && HrdOf(*au.Sps, kind) != nullptr &&
            HrdCpbEntriesHeld(*HrdOf(*au.Sps, kind)) > FSchedule.Index &&
            !SameFigures(ScheduleOf(kind, au.Sps->vui_parameters, FSchedule.Index), FSchedule)) {
            Stop(sink, au.Index, au.Offset,
                 "the sequence parameter set's HRD figures change at this access unit");
            return;
        }
        if (timing.BufferingPeriod && !timing.BufferingPeriodSpsFound) {
            Report(sink, THrdProblem::Timing, au,
                   "buffering_period( ) names seq_parameter_set_id " +
                       std::to_string(timing.BufferingPeriodSpsId) +
                       ", which is not there: its delays cannot be read");
        }
        if (timing.BufferingPeriod && timing.BufferingPeriodSpsFound &&
            timing.Entries[k] <= FSchedule.Index) {
            Stop(sink, au.Index, au.Offset,
                 "buffering_period( ) has no initial_cpb_removal_delay for this HRD and schedule");
            return;
        }
        period = timing.BufferingPeriod && timing.Entries[k] > FSchedule.Index;
        if (first && !period) {
            if (!FSkipNoted) {
                FSkipNoted = true;
                Report(sink, THrdProblem::Skipped, au,
                       "no buffering_period( ) yet: the access units before the first one are "
                       "not modelled");
            }
            return;
        }
        if (period) {
            delay = timing.InitialDelay[k][FSchedule.Index];
            offset = timing.InitialOffset[k][FSchedule.Index];
        }
        if (!first && !timing.PicTimingDelays) {
            Stop(sink, au.Index, au.Offset,
                 "no pic_timing( ) with cpb_removal_delay: this access unit's removal time is "
                 "unknown");
            return;
        }
    } else {
        period = first;
        delay = FSchedule.WhatIfDelay90k;
        offset = 0;
    }
    // The nominal removal time.
    TExact nominal;
    if (first) {
        nominal = Seconds90k(delay);
    } else if (FSchedule.WhatIf) {
        nominal = Seconds90k(delay) + FTick * TExact(static_cast<std::int64_t>(FTicks));
    } else {
        nominal = FBufferingRemoval + FTick * TExact(std::int64_t{timing.CpbRemovalDelay});
    }
    FTicks += au.Field ? 1 : 2;
    // The arrival.
    const std::int64_t bits = 8 * au.Bytes(kind);
    // Within a buffering period the offset lets a unit arrive earlier; its first unit
    // arrives no earlier than its own delay before its removal.
    const TExact earliest = nominal - Seconds90k(period ? delay : delay + offset);
    const auto arrival = [&](const TExact& previousFinal) {
        if (first) {
            return TExact(0);
        }
        return FSchedule.Cbr ? previousFinal : std::max(previousFinal, earliest);
    };
    const TExact initial = arrival(FLastFinalArrival);
    const TExact complete = initial + FPerBit * TExact(bits);
    // The same with every earlier late unit taken as if it had arrived at its removal: an
    // underflow there is the unit's own, not one carried from a late unit before it (what
    // an encoder's buffer, which forgives a deficit once spent, reports).
    const TExact forgiven = arrival(FForgivenFinal) + FPerBit * TExact(bits);
    // The removal: a low-delay decoder waits for a late unit to the next tick after it.
    TExact removal = nominal;
    const bool late = nominal < complete;
    if (late && FSchedule.LowDelay) {
        removal = nominal + FTick * TExact::DivCeil(complete - nominal, FTick);
    }
    if (removal.Out() || complete.Out()) {
        Stop(sink, au.Index, au.Offset,
             "the times leave the range of exact arithmetic (over 2^127 units of 1/" +
                 FD.Decimal() + " s)");
        return;
    }
    if (!first && removal < FLastRemoval) {
        Stop(sink, au.Index, au.Offset,
             "removal time goes backwards (cpb_removal_delay " +
                 std::to_string(timing.CpbRemovalDelay) + " comes before the previous unit's)");
        return;
    }
    if (period && !first && !FSchedule.WhatIf) {
        // Delta t_g,90 = 90000 (t_r,n(n) - t_af(n - 1)): the delay may not exceed its
        // ceiling, and with CBR not fall below its floor either.
        const TExact gap = nominal - FLastFinalArrival;
        const TExact d(static_cast<std::int64_t>(delay));
        const bool aboveCeil = !(FPer90k * (d - TExact(1)) < gap);
        const bool belowFloor = FSchedule.Cbr && !(gap < FPer90k * (d + TExact(1)));
        if (aboveCeil || belowFloor) {
            Report(sink, THrdProblem::InitialDelay, au,
                   "initial_cpb_removal_delay " + std::to_string(delay) +
                       (aboveCeil ? " exceeds" : " is below") +
                       " the gap of " + TExact::Fraction(gap, FPer90k, 3) +
                       " (90 kHz) from the previous unit's final arrival to this removal" +
                       (FSchedule.Cbr ? " (CBR: floor to ceiling)" : " (VBR: up to ceiling)"));
        }
    }
    if (period) {
        FBufferingRemoval = nominal;
        FInitialDelay = delay;
        FInitialOffset = offset;
    }
    FStarted = true;
    ++FUnits;
    FArrivals.push_back({initial, complete, bits});
    THrdUnit unit;
    unit.Index = au.Index;
    unit.Offset = au.Offset;
    unit.Bits = bits;
    unit.InitialArrival = initial;
    unit.FinalArrival = complete;
    unit.Removal = removal;
    unit.Underflow = late && !FSchedule.LowDelay;
    unit.OwnUnderflow = unit.Underflow && nominal < forgiven;
    if (unit.Underflow) {
        ++FUnderflows;
        Report(sink, THrdProblem::Underflow, au,
               "removed at " + TExact::Fraction(removal, FD, 6) +
                   " s before its last bit arrives at " + TExact::Fraction(complete, FD, 6) +
                   " s" + (unit.OwnUnderflow ? "" : ", late only by the late units before it"));
    }
    FLastFinalArrival = complete;
    FForgivenFinal = nominal < forgiven ? nominal : forgiven;
    FLastRemoval = removal;
    FPending.push_back({unit});
    if (FPending.size() > kPendingBound || FArrivals.size() > kPendingBound) {
        Stop(sink, au.Index, au.Offset,
             "more than " + std::to_string(kPendingBound) + " access units in the buffer at once");
        return;
    }
    if (au.HasPicture && (timing.PicTimingDelays || FSchedule.WhatIf) && au.Sps != nullptr) {
        Output(sink, au, removal, FSchedule.WhatIf ? 0 : timing.DpbOutputDelay);
    }
    Remove(sink, &complete);
}

void THrdModel::Remove(IHrdSink& sink, const TExact* until) {
    const TExact size(static_cast<std::int64_t>(FSchedule.CpbSize));
    while (!FPending.empty() && (until == nullptr || FPending.front().Unit.Removal <= *until)) {
        THrdUnit& unit = FPending.front().Unit;
        // The bits that have arrived by the removal, of the units not known to be in: in
        // units of 1/D second of arrival, so that their sum stays exact.
        TExact arrived(0);
        for (const TArrival& a : FArrivals) {
            if (until == nullptr || a.Final <= unit.Removal) {
                arrived = arrived + FPerBit * TExact(a.Bits);
            } else if (a.Start < unit.Removal) {
                arrived = arrived + (unit.Removal - a.Start);
            }
        }
        TExact rest(0);
        const TExact part = TExact::DivFloor(arrived, FPerBit, &rest);
        const std::int64_t held = FArrived - FRemoved;
        const TExact room = size - TExact(held);
        unit.Overflow = part > room || (part == room && rest != TExact(0));
        unit.FullnessBefore = held + part.ToInt64();
        unit.FullnessAfter = unit.FullnessBefore - unit.Bits;
        FRemoved += unit.Bits;
        FMaxFullness = std::max(FMaxFullness, unit.FullnessBefore);
        if (unit.Overflow) {
            ++FOverflows;
            ++FProblems;
            sink.Problem(THrdProblem::Overflow, unit.Index, unit.Offset,
                         "the buffer holds " + std::to_string(unit.FullnessBefore) +
                             (rest != TExact(0) ? "+" : "") + " bits before this removal, over its " +
                             std::to_string(FSchedule.CpbSize));
        }
        // Removals come in order of time: what has arrived by this one is in for the next.
        while (!FArrivals.empty() && (until == nullptr || FArrivals.front().Final <= unit.Removal)) {
            FArrived += FArrivals.front().Bits;
            FArrivals.pop_front();
        }
        sink.Unit(unit);
        FPending.pop_front();
    }
}

void THrdModel::Output(IHrdSink& sink, const THrdAccessUnit& au, const TExact& removal,
                       std::uint32_t dpbOutputDelay) {
    const TSeqParameterSet& sps = *au.Sps;
    const TVuiParameters& vui = sps.vui_parameters;
    if (SpsPresence::Vui(sps) && VuiPresence::BitstreamRestriction(vui)) {
        FDpbFrames = vui.max_dec_frame_buffering;
    } else if (const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc)) {
        const std::uint64_t frame = (std::uint64_t{sps.pic_width_in_mbs_minus1} + 1) *
                                    (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
                                    (sps.frame_mbs_only_flag != 0 ? 1 : 2);
        FDpbFrames = MaxDpbFrames(*level, frame);
    }
    if (au.Idr) {
        // A new coded video sequence counts its pictures' order afresh.
        FWaiting.clear();
        FLastOutputPoc.reset();
    }
    const TExact output = removal + FTick * TExact(std::int64_t{dpbOutputDelay});
    for (auto it = FWaiting.begin(); it != FWaiting.end();) {
        if (it->Time <= removal) {
            FLastOutputPoc = FLastOutputPoc ? std::max(*FLastOutputPoc, it->Poc) : it->Poc;
            it = FWaiting.erase(it);
        } else {
            ++it;
        }
    }
    if (FLastOutputPoc && au.Poc < *FLastOutputPoc) {
        Report(sink, THrdProblem::OutputOrder, au,
               "picture order count " + std::to_string(au.Poc) + " is output after " +
                   std::to_string(*FLastOutputPoc));
    }
    for (const TOutput& waiting : FWaiting) {
        if ((au.Poc < waiting.Poc) != (output < waiting.Time) || output == waiting.Time) {
            Report(sink, THrdProblem::OutputOrder, au,
                   "dpb_output_delay " + std::to_string(dpbOutputDelay) + " puts picture order count " +
                       std::to_string(au.Poc) + " out of order with " +
                       std::to_string(waiting.Poc));
            break;
        }
    }
    if (output > removal && !au.Field) {
        FWaiting.push_back({au.Poc, output});
        if (FWaiting.size() > FDpbFrames) {
            Report(sink, THrdProblem::DpbFullness, au,
                   std::to_string(FWaiting.size()) +
                       " frames wait for output, more than the picture buffer's " +
                       std::to_string(FDpbFrames));
        }
        if (FWaiting.size() > 64) {
            FWaiting.erase(FWaiting.begin());
        }
    }
}

void THrdModel::Finish(IHrdSink& sink) {
    if (Stopped()) {
        return;
    }
    Remove(sink, nullptr);
}
