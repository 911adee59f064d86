// quillet-dump writes the same bytes as the formatter it replaced: every mode that formats
// text, on every test stream, on cuts of each and on copies with bytes changed at random.
// What the earlier formatter wrote is kept as a table of sizes and checksums
// (dump_outputs.txt), one line a run; QUILLET_RECORD_OUTPUTS=FILE writes the table afresh.

#include "cli/DumpTestSupport.h"
#include "cli/JsonTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace {

const std::vector<std::vector<std::string>> kModes = {
    {}, {"--info"}, {"--trees"}, {"--trees", "--full", "--bits"}, {"--json"}, {"--summary"}};

std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    }
    return hash;
}

// The run's output with the file's temporary path named FILE, so that tables compare: the
// path as it is and as JSON writes it (with its backslashes escaped, on Windows).
std::string Stable(std::string text, const std::string& path) {
    const std::string json = JsonString(path);
    for (const std::string& name : {json.substr(1, json.size() - 2), path}) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
            text.replace(at, name.size(), "FILE");
        }
    }
    return text;
}

// The inputs: the stream; its first third, two thirds, and all but its last 7 bytes; and
// three copies with about one byte in 97 replaced, from a fixed seed.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>>
Inputs(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> inputs;
    inputs.emplace_back(name, bytes);
    const std::size_t n = bytes.size();
    for (const std::size_t cut : {n / 3, 2 * n / 3, n > 7 ? n - 7 : 0}) {
        inputs.emplace_back(name + ":cut" + std::to_string(cut),
                            std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
    }
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ n;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int copy = 0; copy < 3; ++copy) {
        std::vector<std::uint8_t> changed = bytes;
        for (std::size_t i = 0; i < n / 97 + 1 && n > 0; ++i) {
            const std::uint64_t r = next();
            changed[static_cast<std::size_t>(r % n)] = static_cast<std::uint8_t>(r >> 56);
        }
        inputs.emplace_back(name + ":fuzz" + std::to_string(copy), std::move(changed));
    }
    return inputs;
}

std::string OutputTable() {
    std::vector<std::filesystem::path> streams;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() == ".264") {
            streams.push_back(entry.path());
        }
    }
    std::sort(streams.begin(), streams.end());
    TempDir dir;
    std::ostringstream table;
    for (const auto& stream : streams) {
        for (const auto& [name, bytes] :
             Inputs(stream.filename().string(), ReadAll(stream.string()))) {
            const std::string path = dir.Write("input.264", bytes);
            for (const auto& mode : kModes) {
                std::vector<std::string> args = mode;
                args.push_back(path);
                const DumpResult result = Dump(args);
                const std::string out = Stable(result.out, path);
                const std::string err = Stable(result.err, path);
                table << name;
                for (const auto& option : mode) {
                    table << ' ' << option;
                }
                table << ' ' << result.status << ' ' << out.size() << std::hex << std::setfill('0')
                      << ' ' << std::setw(16) << Fnv1a(out) << ' ' << std::setw(16) << Fnv1a(err)
                      << std::dec << '\n';
            }
        }
    }
    return table.str();
}

TEST(DumpSameOutput, EveryModeWritesWhatTheEarlierFormatterWrote) {
    const std::string table = OutputTable();
    if (const char* record = std::getenv("QUILLET_RECORD_OUTPUTS")) {
        std::ofstream(record, std::ios::binary) << table;
        GTEST_SKIP() << "recorded to " << record;
    }
    const std::vector<std::string> actual = SplitLines(table);
    std::ifstream file(QUILLET_DUMP_OUTPUTS, std::ios::binary);
    const std::vector<std::string> expected =
        SplitLines(std::string(std::istreambuf_iterator<char>(file), {}));
    ASSERT_EQ(actual.size(), expected.size());
    int shown = 0;
    for (std::size_t i = 0; i < actual.size() && shown < 10; ++i) {
        if (actual[i] != expected[i]) {
            ADD_FAILURE() << "was " << expected[i] << "\nnow " << actual[i];
            ++shown;
        }
    }
}

} // namespace
