// The buffer model and the level check against answers worked out apart from them: every
// access unit's arrival, removal and fullness of the streams in tests/data/hrd as
// hrd_oracle.py computes them from ffmpeg's reading (exact fractions, the fullness summed
// over all arrivals), x264's own list of the access units it let underflow, Table A-1's
// figures for streams re-labelled to a lower level, and hand-worked cases at the edges of
// the arithmetic.

#include "model/Hrd.h"
#include "model/HrdWalk.h"
#include "model/LevelCheck.h"
#include "stream/FileStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct TCollect final : IHrdSink {
    std::vector<THrdUnit> Units;
    std::vector<std::pair<THrdProblem, std::int64_t>> Problems;
    std::string Last;
    void Unit(const THrdUnit& unit) override { Units.push_back(unit); }
    void Problem(THrdProblem problem, std::int64_t index, std::int64_t, const std::string& text) override {
        Problems.emplace_back(problem, index);
        Last = text;
    }
    std::int64_t Count(THrdProblem problem) const {
        return std::count_if(Problems.begin(), Problems.end(),
                             [problem](const auto& p) { return p.first == problem; });
    }
};

std::string Seconds(const TExact& t, const THrdModel& model) {
    return TExact::Fraction(t, model.Denominator(), 9);
}

// The oracle's line for a unit: index, bits, the three times, the fullness, the flags.
std::string Line(const THrdUnit& u, const THrdModel& model) {
    std::string line = std::to_string(u.Index) + "\t" + std::to_string(u.Bits) + "\t" +
                       Seconds(u.InitialArrival, model) + "\t" + Seconds(u.FinalArrival, model) +
                       "\t" + Seconds(u.Removal, model) + "\t" + std::to_string(u.FullnessBefore) +
                       "\t" + std::to_string(u.FullnessAfter);
    return line + (u.Underflow ? "\tunderflow" : "") + (u.Overflow ? "\toverflow" : "");
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs the stream's NAL HRD schedule 0, or the user's figures.
void RunModel(const std::string& path, TCollect& sink, std::optional<THrdSchedule> whatIf,
              std::unique_ptr<THrdModel>& model, std::size_t schedule = 0) {
    FileStream stream;
    ASSERT_TRUE(stream.Open(path)) << path;
    WalkHrdAccessUnits(stream, [&](const THrdAccessUnit& au) {
        if (!model && au.Sps != nullptr) {
            THrdSchedule s = whatIf ? *whatIf : SchedulesOf(*au.Sps).at(schedule);
            if (whatIf) {
                s.NumUnitsInTick = au.Sps->vui_parameters.num_units_in_tick;
                s.TimeScale = au.Sps->vui_parameters.time_scale;
            }
            model = std::make_unique<THrdModel>(s);
        }
        model->Next(au, sink);
        return true;
    });
    model->Finish(sink);
}

std::string HrdData(const std::string& name) {
    return TestDataPath("hrd/" + name);
}

} // namespace

TEST(Hrd, EveryAccessUnitAsTheOracleWorksItOut) {
    int streams = 0;
    for (const auto& entry : std::filesystem::directory_iterator(HrdData(""))) {
        if (entry.path().extension() != ".hrd") {
            continue;
        }
        const std::string name = entry.path().stem().string();
        std::optional<THrdSchedule> whatIf;
        if (name == "no_hrd") { // the figures make_hrd_streams.sh gave the oracle
            whatIf = THrdSchedule{};
            whatIf->WhatIf = true;
            whatIf->Index = -1;
            whatIf->BitRate = 100000;
            whatIf->CpbSize = 80000;
            whatIf->WhatIfDelay90k = 45000;
        }
        TCollect sink;
        std::unique_ptr<THrdModel> model;
        RunModel(HrdData(name + ".264"), sink, whatIf, model);
        const std::vector<std::string> expected = FileLines(entry.path().string());
        ASSERT_EQ(sink.Units.size(), expected.size()) << name;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Line(sink.Units[i], *model), expected[i]) << name;
        }
        // x264's conforming streams break nothing at all.
        if (name == "cbr" || name == "vbr" || name == "cbr_half_size") {
            EXPECT_EQ(sink.Count(THrdProblem::InitialDelay) + sink.Count(THrdProblem::OutputOrder) +
                          sink.Count(THrdProblem::DpbFullness) + sink.Count(THrdProblem::Timing),
                      0)
                << name << ": " << sink.Last;
        }
        ++streams;
    }
    EXPECT_EQ(streams, 8);
}

// A stream with both HRDs: the VCL HRD counts the NAL units of slices and filler data
// alone, as the oracle counts them from a naive scan of the units.
TEST(Hrd, VclHrdCountsSlicesAndFillerAlone) {
    for (std::size_t which = 0; which < 2; ++which) {
        TCollect sink;
        std::unique_ptr<THrdModel> model;
        RunModel(TestDataPath("hrd_nal_vcl.264"), sink, std::nullopt, model, which);
        EXPECT_EQ(model->Schedule().Kind, which == 0 ? THrdKind::Nal : THrdKind::Vcl);
        const std::vector<std::string> expected =
            FileLines(HrdData(which == 0 ? "hrd_nal_vcl.nal" : "hrd_nal_vcl.vcl"));
        ASSERT_EQ(sink.Units.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Line(sink.Units[i], *model), expected[i]) << which;
        }
    }
}

TEST(Hrd, OwnUnderflowsAreTheOnesX264Reports) {
    for (const char* name : {"underflow", "underflow_b"}) {
        TCollect sink;
        std::unique_ptr<THrdModel> model;
        RunModel(HrdData(std::string(name) + ".264"), sink, std::nullopt, model);
        std::vector<std::string> own;
        for (const THrdUnit& u : sink.Units) {
            if (u.OwnUnderflow) {
                own.push_back(std::to_string(u.Index));
            }
        }
        const std::vector<std::string> x264 = FileLines(HrdData(std::string(name) + ".x264"));
        EXPECT_FALSE(x264.empty());
        EXPECT_EQ(own, x264) << name;
    }
}

namespace {

THrdAccessUnit Au(std::int64_t index, std::int64_t bytes, std::optional<std::uint32_t> delay,
                  std::uint32_t removalDelay, std::uint32_t offset = 0) {
    THrdAccessUnit au;
    au.Index = index;
    au.NalBytes = bytes;
    if (delay) {
        au.Timing.BufferingPeriod = true;
        au.Timing.BufferingPeriodSpsFound = true;
        au.Timing.Entries[0] = 1;
        au.Timing.InitialDelay[0][0] = *delay;
        au.Timing.InitialOffset[0][0] = offset;
    }
    au.Timing.PicTiming = true;
    au.Timing.PicTimingDelays = true;
    au.Timing.CpbRemovalDelay = removalDelay;
    return au;
}

THrdSchedule Schedule(std::uint64_t rate, std::uint64_t size, bool cbr, std::uint32_t units,
                      std::uint32_t scale) {
    THrdSchedule s;
    s.BitRate = rate;
    s.CpbSize = size;
    s.Cbr = cbr;
    s.NumUnitsInTick = units;
    s.TimeScale = scale;
    return s;
}

} // namespace

// One 90 kHz unit either side of the exact edge: 960 bit/s, a CPB of 960 bits, ticks of
// 1/50 s. Worked by hand: with CBR the second unit follows the first at once, so at 1 s
// exactly 960 bits have arrived.
TEST(Hrd, OneUnitEitherSideOfEachEdge) {
    struct Case {
        const char* what;
        bool cbr;
        std::vector<THrdAccessUnit> units;
        std::int64_t fullness0; // before the first removal
        bool overflow0, underflow0;
        std::int64_t initialDelayProblems;
    } const cases[] = {
        {"full to the bit", true, {Au(0, 60, 90000, 0), Au(1, 100, {}, 50)}, 960, false, false, 0},
        {"a 90000th s later", true, {Au(0, 60, 90001, 0), Au(1, 100, {}, 50)}, 960, true, false, 0},
        {"a 90000th s sooner", true, {Au(0, 60, 89999, 0), Au(1, 100, {}, 50)}, 959, false, false, 0},
        {"removed as its last bit arrives", false, {Au(0, 120, 90000, 0)}, 960, false, false, 0},
        {"removed just before", false, {Au(0, 120, 89999, 0)}, 959, false, true, 0},
        // A second buffering period 1 s after the first unit's final arrival at 0.5 s:
        // Delta t_g,90 is 90000 exactly.
        // The second unit may arrive from 1.5 s less its delay: at 0.5 s, after the first.
        {"VBR delay at the ceiling", false, {Au(0, 60, 90000, 0), Au(1, 60, 90000, 25)}, 960, false, false, 0},
        {"VBR delay above it", false, {Au(0, 60, 90000, 0), Au(1, 60, 90001, 25)}, 960, false, false, 1},
        {"CBR delay below the floor", true, {Au(0, 60, 90000, 0), Au(1, 60, 89999, 25)}, 960, false, false, 1},
    };
    for (const Case& c : cases) {
        THrdModel model(Schedule(960, 960, c.cbr, 1, 50));
        TCollect sink;
        for (const THrdAccessUnit& au : c.units) {
            model.Next(au, sink);
        }
        model.Finish(sink);
        ASSERT_EQ(sink.Units.size(), c.units.size()) << c.what;
        EXPECT_EQ(sink.Units[0].FullnessBefore, c.fullness0) << c.what;
        EXPECT_EQ(sink.Units[0].Overflow, c.overflow0) << c.what;
        EXPECT_EQ(sink.Units[0].Underflow, c.underflow0) << c.what;
        EXPECT_EQ(sink.Count(THrdProblem::InitialDelay), c.initialDelayProblems) << c.what;
    }
    // Low delay: the last bit at 1 s, the nominal removal at 80000/90000 s; the decoder
    // waits to the first tick after it, six ticks of 1/50 s on: 1.008888... s.
    THrdSchedule low = Schedule(960, 960, false, 1, 50);
    low.LowDelay = true;
    THrdModel model(low);
    TCollect sink;
    model.Next(Au(0, 120, 80000, 0), sink);
    model.Finish(sink);
    ASSERT_EQ(sink.Units.size(), 1u);
    EXPECT_FALSE(sink.Units[0].Underflow);
    EXPECT_EQ(Seconds(sink.Units[0].Removal, model), "1.008888888");
    // A buffering period naming a set that is not there is said, and nothing is modelled.
    THrdAccessUnit orphan = Au(0, 10, 1, 0);
    orphan.Timing.BufferingPeriodSpsFound = false;
    orphan.Timing.Entries[0] = 0;
    THrdModel lost(low);
    TCollect told;
    lost.Next(orphan, told);
    ASSERT_EQ(told.Problems.size(), 2u);
    EXPECT_EQ(told.Problems[0].first, THrdProblem::Timing);
    EXPECT_EQ(told.Problems[1].first, THrdProblem::Skipped);
}

// Output order and the picture buffer, worked by hand: ticks of 1/50 s, a frame every two;
// an IDR picture (POC 0) out 4 ticks after its removal, a P (POC 4) 4 ticks after its own,
// then a B (POC 2): 1 tick after its removal puts it between them, 3 ticks after it.
TEST(Hrd, OutputOrderAndPictureBuffer) {
    struct Case {
        std::uint32_t bDelay, maxDecFrameBuffering;
        std::int64_t order, fullness;
    } const cases[] = {{1, 2, 0, 0}, {3, 2, 1, 0}, {1, 1, 0, 2}};
    for (const Case& c : cases) {
        TSeqParameterSet sps{};
        sps.vui_parameters_present_flag = 1;
        sps.frame_mbs_only_flag = 1;
        sps.vui_parameters.bitstream_restriction_flag = 1;
        sps.vui_parameters.max_dec_frame_buffering = c.maxDecFrameBuffering;
        THrdModel model(Schedule(960000, 960000, false, 1, 50));
        TCollect sink;
        const std::int32_t pocs[] = {0, 4, 2};
        const std::uint32_t outputs[] = {4, 4, c.bDelay};
        for (std::int64_t i = 0; i < 3; ++i) {
            THrdAccessUnit au = Au(i, 100, i == 0 ? std::optional<std::uint32_t>(9000) : std::nullopt,
                                   static_cast<std::uint32_t>(2 * i));
            au.HasPicture = true;
            au.Idr = i == 0;
            au.Sps = &sps;
            au.Poc = pocs[i];
            au.Timing.DpbOutputDelay = outputs[i];
            model.Next(au, sink);
        }
        EXPECT_EQ(sink.Count(THrdProblem::OutputOrder), c.order) << c.bDelay;
        EXPECT_EQ(sink.Count(THrdProblem::DpbFullness), c.fullness) << c.maxDecFrameBuffering;
    }
}

// The largest figures the syntax can write: bit_rate_value_minus1 and
// cpb_size_value_minus1 2^32 - 2 with scale 15, a tick of 2^32 - 1 s, delays of 2^32 - 1.
// The times come within a bit of 2^127 units and one step more leaves the range: the model
// says so and stops. The times were worked out with Python's fractions.
TEST(Hrd, ExtremeFiguresStayExactOrStopWithAReason) {
    TVuiParameters vui{};
    vui.nal_hrd_parameters.bit_rate_scale = 15;
    vui.nal_hrd_parameters.cpb_size_scale = 15;
    vui.nal_hrd_parameters.bit_rate_value_minus1[0] = 0xFFFFFFFE;
    vui.nal_hrd_parameters.cpb_size_value_minus1[0] = 0xFFFFFFFE;
    vui.timing_info_present_flag = 1;
    vui.num_units_in_tick = 0xFFFFFFFF;
    vui.time_scale = 1;
    const THrdSchedule s = ScheduleOf(THrdKind::Nal, vui, 0);
    EXPECT_EQ(s.BitRate, 9007199252643840u);
    EXPECT_EQ(s.CpbSize, 2251799813160960u);
    THrdModel model(s);
    TCollect sink;
    const std::uint32_t m = 0xFFFFFFFF;
    for (const THrdAccessUnit& au :
         {Au(0, 1000, m, 0), Au(1, 1000, {}, m), Au(2, 1000, m, m), Au(3, 1000, m, m), Au(4, 1000, {}, m)}) {
        model.Next(au, sink);
    }
    model.Finish(sink);
    ASSERT_TRUE(model.Stopped());
    EXPECT_NE(model.StopReason().find("range"), std::string::npos) << model.StopReason();
    EXPECT_EQ(sink.Problems.back(), std::make_pair(THrdProblem::Timing, std::int64_t{4}));
    // Each unit may arrive no sooner than 47721 s before its removal, so the first three
    // were removed as the next arrived; the fourth was still waiting.
    EXPECT_EQ(sink.Units.size(), 3u);
    THrdModel again(s);
    TCollect some;
    for (const THrdAccessUnit& au : {Au(0, 1000, m, 0), Au(1, 1000, {}, m), Au(2, 1000, m, m), Au(3, 1000, m, m)}) {
        again.Next(au, some);
    }
    again.Finish(some);
    ASSERT_EQ(some.Units.size(), 4u);
    EXPECT_EQ(Seconds(some.Units[0].Removal, again), "47721.858833333");
    EXPECT_EQ(Seconds(some.Units[1].Removal, again), "18446744065119664746.858833333");
    EXPECT_EQ(Seconds(some.Units[3].Removal, again), "36893488130239281771.858833333");
    EXPECT_EQ(some.Units[0].FullnessBefore, 8000);

    // A tick of zero, and 32 schedules in each HRD.
    vui.time_scale = 0;
    THrdModel untimed(ScheduleOf(THrdKind::Nal, vui, 0));
    TCollect told;
    untimed.Next(Au(0, 10, 1, 0), told);
    untimed.Next(Au(1, 10, {}, 1), told);
    EXPECT_EQ(told.Problems.size(), 1u);
    EXPECT_NE(untimed.StopReason().find("tick is zero"), std::string::npos);
    // A buffering period without the schedule's entry.
    THrdSchedule second = Schedule(960, 960, false, 1, 50);
    second.Index = 1;
    THrdModel missing(second);
    missing.Next(Au(0, 10, 1, 0), told);
    EXPECT_NE(missing.StopReason().find("no initial_cpb_removal_delay"), std::string::npos);
    TSeqParameterSet sps{};
    sps.vui_parameters_present_flag = 1;
    sps.vui_parameters = vui;
    sps.vui_parameters.nal_hrd_parameters_present_flag = 1;
    sps.vui_parameters.vcl_hrd_parameters_present_flag = 1;
    sps.vui_parameters.nal_hrd_parameters.cpb_cnt_minus1 = 31;
    sps.vui_parameters.vcl_hrd_parameters.cpb_cnt_minus1 = 31;
    const std::vector<THrdSchedule> all = SchedulesOf(sps);
    ASSERT_EQ(all.size(), 64u);
    EXPECT_EQ(all[31].Index, 31);
    EXPECT_EQ(all[32].Kind, THrdKind::Vcl);
}

namespace {

std::vector<TLevelViolation> Levels(const std::string& path) {
    std::vector<TLevelViolation> found;
    TLevelCheck check([&found](const TLevelViolation& v) { found.push_back(v); });
    FileStream stream;
    EXPECT_TRUE(stream.Open(path)) << path;
    WalkHrdAccessUnits(stream, [&](const THrdAccessUnit& au) {
        check.Next(au);
        return true;
    });
    return found;
}

} // namespace

// Levels 1b and 1 (Table A-1): MaxBR 128 and 64 (times 1500 for High), MaxMBPS 1485, MaxFS
// 99, MinCR 2. x264 labels the 128x96 stream (48 macroblocks) at 150 kbit/s and 25 frames
// a second 1b; at twice the frame rate it makes 2400 macroblocks a second from its second
// picture on.
TEST(Levels, ReLabelledStreamsBreakExactlyTheirLimits) {
    const auto limits = [](const std::vector<TLevelViolation>& found) {
        std::vector<std::string> text;
        for (const TLevelViolation& v : found) {
            text.push_back(std::to_string(v.Index) + " " + v.Limit + " " + v.Bound);
        }
        return text;
    };
    EXPECT_EQ(limits(Levels(HrdData("cbr_level1.264"))),
              std::vector<std::string>{"-1 MaxBR 96000"});
    std::vector<std::string> fast{"-1 MaxBR 96000"};
    for (int i = 1; i < 100; ++i) {
        fast.push_back(std::to_string(i) + " MaxMBPS 1485");
    }
    EXPECT_EQ(limits(Levels(HrdData("cbr_fast_level1.264"))), fast);
    fast.erase(fast.begin());
    EXPECT_EQ(limits(Levels(HrdData("cbr_fast.264"))), fast);
    // Every stream at the level it declares keeps to it.
    for (const char* dir : {"", "hrd/"}) {
        for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(dir))) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() == ".264" && name.find("level1") == std::string::npos &&
                name != "cbr_fast.264") {
                EXPECT_TRUE(limits(Levels(entry.path().string())).empty()) << name;
            }
        }
    }
}
