#include "cli/HrdCommand.h"

#include "cli/DumpOutput.h"
#include "cli/JsonTree.h"
#include "model/Hrd.h"
#include "model/HrdWalk.h"
#include "model/LevelCheck.h"
#include "stream/FileStream.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <process.h>
#endif

namespace {

// Times are shown in seconds to the nanosecond, rounded down: the model compares them
// exactly, the output only has to tell them apart as a script reads them.
constexpr int kTimeDigits = 9;

std::optional<std::uint64_t> Whole(std::string_view text) {
    std::uint64_t factor = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'M')) {
        factor = text.back() == 'k' ? 1000 : 1000000;
        text.remove_suffix(1);
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        value > UINT64_MAX / factor) {
        return std::nullopt;
    }
    return value * factor;
}

// Seconds as a decimal, to the 90 kHz clock rounded down.
std::optional<std::uint64_t> Delay90k(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
    const auto seconds = whole.empty() ? std::optional<std::uint64_t>(0) : Whole(whole);
    if (!seconds || (whole.empty() && fraction.empty()) || *seconds > 1000000 ||
        fraction.size() > 9 || fraction.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t nanos = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        nanos = nanos * 10 + (i < fraction.size() ? static_cast<std::uint64_t>(fraction[i] - '0') : 0);
    }
    return *seconds * 90000 + nanos * 9 / 100000;
}

// A temporary file that holds one part of the JSON document until the walk is over:
// memory stays fixed however many access units there are.
class TSpool {
  public:
    TSpool() : FFile(Open()) {
        if (FFile == nullptr) {
            throw std::runtime_error("cannot create a temporary file");
        }
    }
    ~TSpool() { std::fclose(FFile); }
    TSpool(const TSpool&) = delete;
    TSpool& operator=(const TSpool&) = delete;
    // Items separated by commas.
    void Item(const std::string& text) {
        if (FItems++ > 0) {
            Put(",");
        }
        Put(text);
    }
    void CopyTo(TLineBuffer& lines) {
        std::rewind(FFile);
        char block[65536];
        for (;;) {
            const std::size_t n = std::fread(block, 1, sizeof block, FFile);
            if (n == 0) {
                break;
            }
            lines.Append(std::string_view(block, n));
        }
        if (std::ferror(FFile) != 0) {
            throw std::runtime_error("cannot read a temporary file back");
        }
    }

  private:
    static std::FILE* Open() {
#ifdef _WIN32
        // Windows makes tmpfile( )'s file in the drive's root, which a user may not write:
        // the user's temporary folder instead, removed when closed ("D").
        static int count = 0;
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("quillet-dump-" + std::to_string(_getpid()) + "-" + std::to_string(count++));
        return _wfopen(path.c_str(), L"w+bD");
#else
        return std::tmpfile();
#endif
    }
    void Put(const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), FFile) != text.size()) {
            throw std::runtime_error("cannot write a temporary file");
        }
    }
    std::FILE* FFile;
    std::int64_t FItems = 0;
};

std::string ModelName(const THrdSchedule& s) {
    if (s.WhatIf) {
        return "what-if";
    }
    return std::string(s.Kind == THrdKind::Nal ? "nal" : "vcl") + "/" + std::to_string(s.Index);
}

std::string Describe(const THrdSchedule& s) {
    return std::to_string(s.BitRate) + " bit/s, CPB " + std::to_string(s.CpbSize) + " bits, " +
           (s.Cbr ? "CBR" : "VBR") + ", low_delay_hrd_flag " + (s.LowDelay ? "1" : "0") +
           ", tick " + std::to_string(s.NumUnitsInTick) + "/" + std::to_string(s.TimeScale) + " s";
}

std::string HexOffset(std::int64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(offset));
    return text;
}

// One model and where its results go: lines at once, or the JSON document's parts.
class TModelRun final : public IHrdSink {
  public:
    TModelRun(const THrdSchedule& schedule, bool json, TLineBuffer& lines)
        : Model(schedule), FName(ModelName(schedule)), FJson(json), FLines(lines) {
        if (json) {
            FUnits = std::make_unique<TSpool>();
            FUnderflows = std::make_unique<TSpool>();
            FOwnUnderflows = std::make_unique<TSpool>();
            FOverflows = std::make_unique<TSpool>();
            FProblems = std::make_unique<TSpool>();
        } else {
            FLines.Append("# " + FName + ": " + Describe(schedule) + "; counts " +
                          HrdBytesCounted(schedule.Kind) + "\n");
        }
    }

    void Unit(const THrdUnit& u) override {
        const TExact& d = Model.Denominator();
        if (FJson) {
            FUnits->Item("\n{\"index\":" + std::to_string(u.Index) + ",\"offset\":" +
                         std::to_string(u.Offset) + ",\"bits\":" + std::to_string(u.Bits) +
                         ",\"initial_arrival\":" + TExact::Fraction(u.InitialArrival, d, kTimeDigits) +
                         ",\"final_arrival\":" + TExact::Fraction(u.FinalArrival, d, kTimeDigits) +
                         ",\"removal\":" + TExact::Fraction(u.Removal, d, kTimeDigits) +
                         ",\"fullness_before\":" + std::to_string(u.FullnessBefore) +
                         ",\"fullness\":" + std::to_string(u.FullnessAfter) + "}");
            if (u.Underflow) {
                FUnderflows->Item(std::to_string(u.Index));
            }
            if (u.OwnUnderflow) {
                FOwnUnderflows->Item(std::to_string(u.Index));
            }
            if (u.Overflow) {
                FOverflows->Item(std::to_string(u.Index));
            }
            return;
        }
        FLines.Append(FName + "\t" + std::to_string(u.Index) + "\t" + HexOffset(u.Offset) + "\t" +
                      std::to_string(u.Bits) + "\t" +
                      TExact::Fraction(u.InitialArrival, d, kTimeDigits) + "\t" +
                      TExact::Fraction(u.FinalArrival, d, kTimeDigits) + "\t" +
                      TExact::Fraction(u.Removal, d, kTimeDigits) + "\t" +
                      std::to_string(u.FullnessBefore) + "\t" + std::to_string(u.FullnessAfter) +
                      (u.OwnUnderflow ? "\tunderflow" : u.Underflow ? "\tunderflow (carried)" : "") + (u.Overflow ? "\toverflow" : "") + "\n");
    }

    void Problem(THrdProblem problem, std::int64_t index, std::int64_t offset,
                 const std::string& text) override {
        if (problem != THrdProblem::Skipped) {
            Violations = true;
        }
        if (FJson) {
            FProblems->Item("\n{\"index\":" + std::to_string(index) + ",\"offset\":" +
                            std::to_string(offset) + ",\"kind\":" +
                            JsonString(HrdProblemName(problem)) + ",\"text\":" + JsonString(text) + "}");
            return;
        }
        FLines.Append("! " + FName + " access unit " + std::to_string(index) + " at " +
                      HexOffset(offset) + ": " + HrdProblemName(problem) + ": " + text + "\n");
    }

    void Summary() {
        const THrdSchedule& s = Model.Schedule();
        if (FJson) {
            FLines.Append(std::string("{\"hrd\":\"") + (s.Kind == THrdKind::Nal ? "nal" : "vcl") +
                          "\",\"schedule\":" + std::to_string(s.Index) +
                          ",\"what_if\":" + (s.WhatIf ? "true" : "false") +
                          ",\"bit_rate\":" + std::to_string(s.BitRate) +
                          ",\"cpb_size\":" + std::to_string(s.CpbSize) +
                          ",\"cbr\":" + (s.Cbr ? "true" : "false") +
                          ",\"low_delay\":" + (s.LowDelay ? "true" : "false") +
                          ",\"num_units_in_tick\":" + std::to_string(s.NumUnitsInTick) +
                          ",\"time_scale\":" + std::to_string(s.TimeScale) +
                          ",\"bytes_counted\":" + JsonString(HrdBytesCounted(s.Kind)) +
                          ",\"conforms\":" + (Violations ? "false" : "true") +
                          ",\"stopped\":" +
                          (Model.Stopped() ? JsonString(Model.StopReason()) : std::string("null")) +
                          ",\"max_fullness\":" + std::to_string(Model.MaxFullness()) +
                          ",\"underflows\":[");
            FUnderflows->CopyTo(FLines);
            FLines.Append("],\"own_underflows\":[");
            FOwnUnderflows->CopyTo(FLines);
            FLines.Append("],\"overflows\":[");
            FOverflows->CopyTo(FLines);
            FLines.Append("],\"problems\":[");
            FProblems->CopyTo(FLines);
            FLines.Append("],\"access_units\":[");
            FUnits->CopyTo(FLines);
            FLines.Append("\n]}");
            return;
        }
        FLines.Append("# " + FName + ": " + std::to_string(Model.Units()) + " access units, " +
                      std::to_string(Model.Underflows()) + " underflows, " +
                      std::to_string(Model.Overflows()) + " overflows, " +
                      std::to_string(Model.Problems() - Model.Underflows() - Model.Overflows()) +
                      " other problems, maximum fullness " + std::to_string(Model.MaxFullness()) +
                      " of " + std::to_string(s.CpbSize) + " bits" +
                      (Model.Stopped() ? "; stopped: " + Model.StopReason() : "") + "\n");
    }

    THrdModel Model;
    bool Violations = false;

  private:
    std::string FName;
    bool FJson;
    TLineBuffer& FLines;
    std::unique_ptr<TSpool> FUnits;
    std::unique_ptr<TSpool> FUnderflows;
    std::unique_ptr<TSpool> FOwnUnderflows;
    std::unique_ptr<TSpool> FOverflows;
    std::unique_ptr<TSpool> FProblems;
};

// The user's schedule, the tick from their frame rate or the stream's.
std::optional<THrdSchedule> WhatIfSchedule(const TWhatIf& w, const TSeqParameterSet* sps) {
    THrdSchedule s;
    s.Kind = THrdKind::Nal;
    s.Index = -1;
    s.WhatIf = true;
    s.BitRate = w.BitRate;
    s.CpbSize = w.CpbSize;
    if (w.FrameRateNum != 0) {
        // A frame is two ticks.
        s.NumUnitsInTick = w.FrameRateDen;
        s.TimeScale = 2 * w.FrameRateNum;
    } else if (sps != nullptr && SpsPresence::Vui(*sps) && VuiPresence::Timing(sps->vui_parameters)) {
        s.NumUnitsInTick = sps->vui_parameters.num_units_in_tick;
        s.TimeScale = sps->vui_parameters.time_scale;
    } else {
        return std::nullopt;
    }
    // Without a delay of its own the buffer fills at the rate before the first removal.
    s.WhatIfDelay90k = w.Delay90k ? *w.Delay90k
                                  : TExact::DivFloor(TExact(static_cast<std::int64_t>(w.CpbSize)) *
                                                         TExact(90000),
                                                     TExact(static_cast<std::int64_t>(w.BitRate)))
                                        .ToInt64();
    return s;
}

const char* kNoHrd =
    "the stream has no HRD parameters, or no buffering_period( ) before its access units: "
    "give the figures to check it with as --what-if RATE,SIZE[,DELAY[,FPS]]";

} // namespace

std::optional<TWhatIf> ParseWhatIf(const std::string& text) {
    std::vector<std::string_view> fields;
    std::string_view rest = text;
    for (;;) {
        const std::size_t comma = rest.find(',');
        fields.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (fields.size() < 2 || fields.size() > 4) {
        return std::nullopt;
    }
    TWhatIf w;
    const auto rate = Whole(fields[0]);
    const auto size = Whole(fields[1]);
    // The model's figures: a rate of 1 to 2^53 bits per second and a size below 2^62 bits.
    if (!rate || !size || *rate == 0 || *rate > (std::uint64_t{1} << 53) ||
        *size > (std::uint64_t{1} << 62)) {
        return std::nullopt;
    }
    w.BitRate = *rate;
    w.CpbSize = *size;
    if (fields.size() >= 3 && !fields[2].empty()) {
        w.Delay90k = Delay90k(fields[2]);
        if (!w.Delay90k) {
            return std::nullopt;
        }
    }
    if (fields.size() == 4) {
        const std::size_t slash = fields[3].find('/');
        const auto num = Whole(fields[3].substr(0, slash));
        const auto den = slash == std::string_view::npos ? std::optional<std::uint64_t>(1)
                                                         : Whole(fields[3].substr(slash + 1));
        if (!num || !den || *num == 0 || *den == 0 || *num > 0x7FFFFFFF || *den > 0xFFFFFFFF) {
            return std::nullopt;
        }
        w.FrameRateNum = static_cast<std::uint32_t>(*num);
        w.FrameRateDen = static_cast<std::uint32_t>(*den);
    }
    return w;
}

int PrintHrd(FileStream& stream, bool json, const std::optional<TWhatIf>& whatIf,
             std::ostream& out) {
    TLineBuffer lines(out);
    std::vector<std::unique_ptr<TModelRun>> runs;
    bool made = false;
    std::string note;
    if (!json) {
        lines.Append("# model\taccess unit\toffset\tbits\tinitial arrival (s)\tfinal arrival (s)"
                     "\tremoval (s)\tfullness before\tfullness after (bits)\n");
    }
    WalkHrdAccessUnits(stream, [&](const THrdAccessUnit& au) {
        if (!made && au.Sps != nullptr) {
            made = true;
            if (whatIf) {
                const auto schedule = WhatIfSchedule(*whatIf, au.Sps);
                if (!schedule) {
                    note = "the stream gives no frame rate: give one as FPS in --what-if";
                    return false;
                }
                runs.push_back(std::make_unique<TModelRun>(*schedule, json, lines));
            } else {
                for (const THrdSchedule& s : SchedulesOf(*au.Sps)) {
                    runs.push_back(std::make_unique<TModelRun>(s, json, lines));
                }
            }
        }
        for (auto& run : runs) {
            run->Model.Next(au, *run);
        }
        if (!json) {
            lines.Drain();
        }
        return true;
    });
    bool conforms = true;
    bool modelled = false;
    for (auto& run : runs) {
        run->Model.Finish(*run);
        conforms = conforms && !run->Violations;
        modelled = modelled || run->Model.Units() > 0;
    }
    if (note.empty() && !modelled) {
        note = kNoHrd;
    }
    // Nothing run is nothing shown to conform.
    const char* verdict = !modelled ? "null" : conforms ? "true" : "false";
    if (json) {
        lines.Append(std::string("{\"conforms\":") + verdict);
        if (!note.empty()) {
            lines.Append(",\"note\":" + JsonString(note));
        }
        lines.Append(",\"models\":[");
        for (std::size_t i = 0; i < runs.size(); ++i) {
            lines.Append(i == 0 ? "\n" : ",\n");
            runs[i]->Summary();
        }
        lines.Append("\n]}\n");
    } else {
        for (auto& run : runs) {
            run->Summary();
        }
        if (!note.empty()) {
            lines.Append("# " + note + "\n");
        }
        lines.Append(!modelled  ? "# nothing checked\n"
                     : conforms ? "# conforms\n"
                                : "# does not conform\n");
    }
    lines.Drain();
    return conforms ? 0 : kNotConforming;
}

int PrintLevels(FileStream& stream, std::ostream& out) {
    TLineBuffer lines(out);
    lines.Append("# access unit\toffset\tlevel\tlimit\tvalue\tbound\n");
    TLevelCheck check([&lines](const TLevelViolation& v) {
        lines.Append((v.Index < 0 ? std::string("set") : std::to_string(v.Index)) + "\t" +
                     HexOffset(v.Offset) + "\t" + v.Level + "\t" + v.Limit + "\t" + v.Value +
                     "\t" + v.Bound + "\n");
    });
    std::int64_t units = 0;
    WalkHrdAccessUnits(stream, [&](const THrdAccessUnit& au) {
        check.Next(au);
        ++units;
        return true;
    });
    lines.Append("# " + std::to_string(units) + " access units, " +
                 std::to_string(check.Violations()) + " violations; checked: " +
                 TLevelCheck::Covered() + "\n");
    if (check.Unchecked() > 0) {
        lines.Append("# " + std::to_string(check.Unchecked()) +
                     " access units without a readable slice header and its sets: not checked\n");
    }
    if (check.Untimed() > 0) {
        lines.Append("# " + std::to_string(check.Untimed()) +
                     " access units without a tick in the stream: their rates are not checked\n");
    }
    lines.Drain();
    return check.Violations() == 0 ? 0 : kNotConforming;
}
