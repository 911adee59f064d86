#pragma once

// The hypothetical reference decoder's coded picture buffer, one HRD (NAL or VCL) and one
// schedule at a time, in exact arithmetic: every time is a whole number of 1/D seconds,
// D the least common multiple of the 90 kHz clock, the tick's time_scale and the bit rate,
// so that arrival (bits over the rate), removal (ticks) and the buffering period's 90 kHz
// delays all meet without rounding.

#include "model/Exact.h"
#include "model/HrdWalk.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// What one model runs with.
struct THrdSchedule {
    THrdKind Kind = THrdKind::Nal;
    std::int32_t Index = 0; // SchedSelIdx; -1 for the user's figures
    std::uint64_t BitRate = 0; // bits per second
    std::uint64_t CpbSize = 0; // bits
    bool Cbr = false;
    bool LowDelay = false;
    std::uint32_t NumUnitsInTick = 0;
    std::uint32_t TimeScale = 0;
    // The user's figures ("what if"): removal every frame from their initial delay, in
    // 90 kHz units, in place of the SEI's times.
    bool WhatIf = false;
    std::uint64_t WhatIfDelay90k = 0;
};

// BitRate = (bit_rate_value_minus1 + 1) * 2^(6 + bit_rate_scale) and CpbSize =
// (cpb_size_value_minus1 + 1) * 2^(4 + cpb_size_scale) of entry i, with the SPS's tick and
// low delay flag.
THrdSchedule ScheduleOf(THrdKind kind, const TVuiParameters& vui, std::int32_t i);
// The schedules a sequence parameter set declares, NAL HRD first; none without an HRD.
std::vector<THrdSchedule> SchedulesOf(const TSeqParameterSet& sps);

enum class THrdProblem {
    Underflow,       // removed before it has arrived in full
    Overflow,        // the buffer holds more than its size
    InitialDelay,    // initial_cpb_removal_delay against the arrival gap
    OutputOrder,     // dpb_output_delay against the pictures' order
    DpbFullness,     // more pictures waiting for output than the buffer holds
    Timing,          // missing or contradictory timing: the model goes on or stops
    Skipped,         // access units before the first buffering period: a note, not a fault
};
const char* HrdProblemName(THrdProblem problem);

// One access unit through the buffer, known once its removal is reached.
struct THrdUnit {
    std::int64_t Index = 0;
    std::int64_t Offset = 0;
    std::int64_t Bits = 0;
    TExact InitialArrival; // in 1/D seconds
    TExact FinalArrival;
    TExact Removal;
    std::int64_t FullnessBefore = 0; // bits, rounded down, just before its removal
    std::int64_t FullnessAfter = 0;  // bits, rounded down, just after
    bool Underflow = false;
    // An underflow even when every late unit before it is taken to have arrived by its
    // removal.
    bool OwnUnderflow = false;
    bool Overflow = false;
};

class IHrdSink {
  public:
    virtual ~IHrdSink() = default;
    virtual void Unit(const THrdUnit& unit) = 0;
    // index and offset of the access unit concerned (-1: the model as a whole).
    virtual void Problem(THrdProblem problem, std::int64_t index, std::int64_t offset,
                         const std::string& text) = 0;
};

class THrdModel {
  public:
    // Access units the buffer may hold at once before the model gives up: its memory bound,
    // some 2 MiB a model, 64 models at most.
    static constexpr std::size_t kPendingBound = 1 << 14;

    explicit THrdModel(const THrdSchedule& schedule);

    // The next access unit in decoding order. Results come out through sink as the
    // removal of each unit is reached, in decoding order.
    void Next(const THrdAccessUnit& au, IHrdSink& sink);
    // The end of the stream: the units still in the buffer come out.
    void Finish(IHrdSink& sink);

    const THrdSchedule& Schedule() const { return FSchedule; }
    // The 1/D second of the times.
    const TExact& Denominator() const { return FD; }
    bool Stopped() const { return !FStopReason.empty(); }
    const std::string& StopReason() const { return FStopReason; }
    std::int64_t Units() const { return FUnits; }
    std::int64_t Underflows() const { return FUnderflows; }
    std::int64_t Overflows() const { return FOverflows; }
    std::int64_t Problems() const { return FProblems; }
    std::int64_t MaxFullness() const { return FMaxFullness; }

  private:
    struct TPending {
        THrdUnit Unit;
    };
    struct TOutput {
        std::int32_t Poc = 0;
        TExact Time;
    };
    void Stop(IHrdSink& sink, std::int64_t index, std::int64_t offset, const std::string& why);
    void Report(IHrdSink& sink, THrdProblem problem, const THrdAccessUnit& au,
                const std::string& text);
    // Removes the waiting units whose removal comes at or before `until` (all of them,
    // everything arrived, without one).
    void Remove(IHrdSink& sink, const TExact* until);
    void Output(IHrdSink& sink, const THrdAccessUnit& au, const TExact& removal,
                std::uint32_t dpbOutputDelay);
    TExact Seconds90k(std::uint64_t count) const;

    THrdSchedule FSchedule;
    TExact FD;        // 1/D second per unit of time
    TExact FPerBit;   // D / BitRate: the time one bit takes to arrive
    TExact FPer90k;   // D / 90000
    TExact FTick;     // t_c in 1/D seconds
    std::string FStopReason;
    std::int64_t FUnits = 0;
    std::int64_t FUnderflows = 0;
    std::int64_t FOverflows = 0;
    std::int64_t FProblems = 0;
    std::int64_t FMaxFullness = 0;
    bool FStarted = false;     // a buffering period has been met
    bool FSkipNoted = false;   // access units before it were named once
    TExact FBufferingRemoval;  // t_r,n(nb) of the last buffering period's first unit
    TExact FLastFinalArrival;  // t_af(n - 1)
    TExact FForgivenFinal;     // the same, earlier deficits forgiven
    TExact FLastRemoval;
    std::uint64_t FInitialDelay = 0;
    std::uint64_t FInitialOffset = 0;
    std::uint64_t FTicks = 0; // what if: ticks since the first unit
    // Bits of the units that have arrived in full (and left FArrivals), and of those removed.
    std::int64_t FArrived = 0;
    std::int64_t FRemoved = 0;
    // The units whose arrival may not be over at the next removal.
    struct TArrival {
        TExact Start;
        TExact Final;
        std::int64_t Bits = 0;
    };
    std::deque<TArrival> FArrivals;
    std::deque<TPending> FPending;
    std::vector<TOutput> FWaiting; // pictures decoded, not yet output
    std::optional<std::int32_t> FLastOutputPoc;
    std::uint32_t FDpbFrames = 16;
};
