// The buffer model and the level check on any bytes as a stream, with the stream's own
// schedules and with figures the input's last bytes pick (any rate, size, delay and tick,
// zero and the largest included); and the model alone on access units whose sizes, delays
// and buffering periods are the input's bytes. Held to what the model's answers promise
// one another: the access units cover the file's bytes once each, every unit comes out
// once and in order, its arrival takes exactly its bits at the rate, it underflows exactly
// when removed before its last bit, and its fullness falls by its bits at its removal and
// overflows exactly when above the buffer's size.

#include "FuzzSupport.h"
#include "model/Hrd.h"
#include "model/HrdWalk.h"
#include "model/LevelCheck.h"
#include "stream/FileStream.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

std::uint64_t Take(const std::uint8_t*& data, std::size_t& size, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes && size > 0; ++i, ++data, --size) {
        value = value << 8 | *data;
    }
    return value;
}

class TChecked final : public IHrdSink {
  public:
    explicit TChecked(const THrdSchedule& s) : Model(s) {}
    void Unit(const THrdUnit& u) override {
        FuzzCheck(u.Index > FLast, "units come out once each, in decoding order");
        FLast = u.Index;
        const TExact& d = Model.Denominator();
        const TExact rate(static_cast<std::int64_t>(Model.Schedule().BitRate));
        FuzzCheck((u.FinalArrival - u.InitialArrival) * rate == TExact(u.Bits) * d,
                  "a unit's arrival takes its bits at the rate");
        FuzzCheck(u.Underflow == (!Model.Schedule().LowDelay && u.Removal < u.FinalArrival),
                  "an underflow is a removal before the last bit");
        FuzzCheck(!u.OwnUnderflow || u.Underflow, "an own underflow is an underflow");
        FuzzCheck(Model.Schedule().LowDelay ? u.Removal >= u.FinalArrival : true,
                  "a low-delay removal waits for the last bit");
        FuzzCheck(u.FullnessAfter == u.FullnessBefore - u.Bits, "a removal takes the unit's bits");
        const auto size = static_cast<std::int64_t>(Model.Schedule().CpbSize);
        FuzzCheck(u.Overflow ? u.FullnessBefore >= size : u.FullnessBefore <= size,
                  "an overflow is a fullness above the size");
        FuzzCheck(!(u.Removal < FRemoval), "removals keep their order");
        FRemoval = u.Removal;
        ++Out;
    }
    void Problem(THrdProblem, std::int64_t, std::int64_t, const std::string& text) override {
        FuzzCheck(!text.empty(), "a problem says what it is");
    }
    THrdModel Model;
    std::int64_t Out = 0;

  private:
    std::int64_t FLast = -1;
    TExact FRemoval;
};

THrdSchedule Picked(const std::uint8_t* data, std::size_t size) {
    THrdSchedule s;
    s.Kind = (Take(data, size, 1) & 1) != 0 ? THrdKind::Vcl : THrdKind::Nal;
    s.BitRate = std::max<std::uint64_t>(1, Take(data, size, 7) >> 3); // up to 2^53
    s.CpbSize = Take(data, size, 7) >> 3;
    const std::uint64_t flags = Take(data, size, 1);
    s.Cbr = (flags & 1) != 0;
    s.LowDelay = (flags & 2) != 0;
    s.WhatIf = (flags & 4) != 0;
    s.NumUnitsInTick = static_cast<std::uint32_t>(Take(data, size, 4));
    s.TimeScale = static_cast<std::uint32_t>(Take(data, size, 4));
    s.WhatIfDelay90k = Take(data, size, 4);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("hrd");
    file.Write(data, size);
    FileStream stream;
    if (!stream.Open(file.Path())) {
        return 0;
    }
    // The last 30 bytes pick a schedule of the user's.
    const THrdSchedule picked = Picked(data + (size > 30 ? size - 30 : 0), std::min<std::size_t>(size, 30));
    std::vector<std::unique_ptr<TChecked>> models;
    models.push_back(std::make_unique<TChecked>(picked));
    TLevelCheck levels([](const TLevelViolation& v) { FuzzCheck(!v.Limit.empty(), "a limit is named"); });
    std::int64_t units = 0;
    std::int64_t covered = 0;
    std::int64_t first = -1;
    bool made = false;
    WalkHrdAccessUnits(stream, [&](const THrdAccessUnit& au) {
        FuzzCheck(au.Index == units++, "access units are numbered in order");
        FuzzCheck(first < 0 || au.Offset == covered, "access units follow each other");
        FuzzCheck(au.VclBytes <= au.UnitBytes && au.UnitBytes <= au.NalBytes - (first < 0 ? au.Offset : 0),
                  "VCL bytes within the units' within the access unit's");
        first = first < 0 ? au.Offset : first;
        covered += au.NalBytes;
        if (!made && au.Sps != nullptr) {
            made = true;
            for (const THrdSchedule& s : SchedulesOf(*au.Sps)) {
                models.push_back(std::make_unique<TChecked>(s));
            }
        }
        for (auto& m : models) {
            m->Model.Next(au, *m);
        }
        levels.Next(au);
        return true;
    });
    FuzzCheck(first < 0 || covered == static_cast<std::int64_t>(size),
              "the access units cover the file's bytes once each");
    for (auto& m : models) {
        m->Model.Finish(*m);
        FuzzCheck(m->Model.Stopped() || m->Out == m->Model.Units(), "every unit modelled comes out");
    }
    // The model alone on made-up units: 7 bytes each.
    TChecked alone(picked);
    std::int64_t index = 0;
    for (std::size_t at = 0; at + 7 <= size && index < 4096; at += 7, ++index) {
        const std::uint8_t* p = data + at;
        THrdAccessUnit au;
        au.Index = index;
        au.NalBytes = au.VclBytes = p[0] << 8 | p[1];
        au.Timing.BufferingPeriod = (p[2] & 1) != 0;
        au.Timing.BufferingPeriodSpsFound = true;
        au.Timing.Entries[0] = au.Timing.Entries[1] = 1;
        au.Timing.InitialDelay[0][0] = au.Timing.InitialDelay[1][0] = p[3] << 16 | p[4];
        au.Timing.InitialOffset[0][0] = au.Timing.InitialOffset[1][0] = p[2] >> 4;
        au.Timing.PicTiming = au.Timing.PicTimingDelays = (p[2] & 2) == 0;
        au.Timing.CpbRemovalDelay = (p[5] & 0x80) != 0 ? 0xFFFFFFFFu - p[6] : p[5] << 8 | p[6];
        alone.Model.Next(au, alone);
    }
    alone.Model.Finish(alone);
    FuzzCheck(alone.Model.Stopped() || alone.Out == alone.Model.Units(), "every unit comes out");
    return 0;
}
