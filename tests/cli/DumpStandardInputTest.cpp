// quillet-dump - reads standard input: every walk that can take it writes what it writes
// for the same bytes in a file, through a real pipe that delivers them in small pieces, on
// every test stream and on one long enough to cross the reads' blocks.

#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define pipe(fds) _pipe(fds, 65536, _O_BINARY)
#define dup _dup
#define dup2 _dup2
#define close _close
#define write _write
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

// RunDump with bytes on standard input, written by another thread in pieces of odd sizes.
DumpResult DumpPiped(std::vector<std::string> args, const std::vector<std::uint8_t>& bytes) {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN); // a run that refuses reads nothing; the writer is told so
#endif
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    std::thread writer([fd = fds[1], &bytes] {
        for (std::size_t at = 0, piece = 1; at < bytes.size(); piece = piece * 7 % 65521 + 1) {
            const std::size_t n = std::min(piece, bytes.size() - at);
            const auto put = write(fd, bytes.data() + at, static_cast<unsigned>(n));
            if (put <= 0) {
                break; // the reader stopped early
            }
            at += static_cast<std::size_t>(put);
        }
        close(fd);
    });
    args.push_back("-");
    DumpResult result = Dump(args);
    // A run that stopped early leaves the writer waiting: what is left goes unread.
    close(0);
    writer.join();
    dup2(saved, 0);
    close(saved);
    return result;
}

// The summary without its first line, which names the file ("-" for standard input), and,
// where the walk's blocks make them differ, without its buckets, whose width is known only
// at the end of standard input.
std::string Figures(const std::string& json, bool buckets) {
    const std::size_t from = std::min(json.find('\n'), json.size());
    return json.substr(from, buckets ? std::string::npos : json.find("\"buckets\"") - from);
}

// What the buckets hold in all: pictures and bytes, the same whatever their width.
std::pair<long long, long long> BucketTotals(const std::string& json) {
    const std::size_t at = std::min(json.find("\"buckets\""), json.size());
    std::pair<long long, long long> totals{0, 0};
    const std::regex bucket("\"pictures\":([0-9]+),\"bytes\":([0-9]+)");
    for (std::sregex_iterator i(json.begin() + static_cast<std::ptrdiff_t>(at), json.end(), bucket);
         i != std::sregex_iterator(); ++i) {
        totals.first += std::stoll((*i)[1]);
        totals.second += std::stoll((*i)[2]);
    }
    return totals;
}

TEST(DumpStandardInput, EveryWalkFromStandardInputWritesWhatTheFileGives) {
    const std::vector<std::vector<std::string>> modes = {
        {},           {"--info"}, {"--find", "b"}, {"--find", "idr", "--info"}, {"--find", "sei:5"},
        {"--summary"}, {"--check"}, {"--check", "--json"}};
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() == ".264") {
            inputs.emplace_back(entry.path().string(), ReadAll(entry.path().string()));
        }
    }
    // Past the first bytes kept for the check and across the walk's blocks: 9 MiB.
    TempDir dir;
    std::vector<std::uint8_t> longer;
    while (longer.size() < (9u << 20)) {
        const auto& piece = inputs[longer.size() % inputs.size()].second;
        longer.insert(longer.end(), piece.begin(), piece.end());
    }
    inputs.emplace_back(dir.Write("long.264", longer), longer);
    for (const auto& [path, bytes] : inputs) {
        for (const auto& mode : modes) {
            std::vector<std::string> args = mode;
            args.push_back(path);
            const DumpResult file = Dump(args);
            const DumpResult piped = DumpPiped(mode, bytes);
            const std::string what = path + " " + (mode.empty() ? "" : mode[0]);
            EXPECT_EQ(piped.status, file.status) << what;
            EXPECT_EQ(piped.err, file.err) << what;
            if (mode == std::vector<std::string>{"--summary"}) {
                EXPECT_EQ(Figures(piped.out, bytes.size() <= 4096),
                          Figures(file.out, bytes.size() <= 4096))
                    << what;
                EXPECT_EQ(BucketTotals(piped.out), BucketTotals(file.out)) << what;
            } else {
                EXPECT_EQ(piped.out, file.out) << what;
            }
        }
    }
}

TEST(DumpStandardInput, ModesThatReadAtAnOffsetSayTheyNeedAFile) {
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("baseline_cavlc.264"));
    for (const std::vector<std::string>& mode :
         {std::vector<std::string>{"--at", "0"}, {"--trees"}, {"--json"}}) {
        const DumpResult result = DumpPiped(mode, bytes);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err,
                  mode[0] + " needs a FILE: standard input cannot be read at any offset\n");
        EXPECT_EQ(result.out, "");
    }
}

} // namespace
