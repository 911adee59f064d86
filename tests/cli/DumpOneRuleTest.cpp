// One damaged sequence parameter set, judged alike by every view that reads the sets: the
// listing's summaries, the detail tree, find with its summaries and the picture. A set cut
// short in its VUI is refused wherever it is met, and the readable one before it with the
// same id governs, as it would for a decoder walking the file.

#include "../decode/PictureTestSupport.h"
#include "DumpTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

std::string Hex16(std::int64_t offset) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(offset));
    return text;
}

// The listing line that begins at offset, or an empty text.
std::string LineAt(const std::string& listing, std::int64_t offset) {
    for (const std::string& line : SplitLines(listing)) {
        if (line.rfind(Hex16(offset), 0) == 0) {
            return line;
        }
    }
    return {};
}

TEST(DumpOneRule, ADamagedSpsIsJudgedAlikeByEveryView) {
    // baseline_cavlc.264: SPS at 0 (26 bytes), PPS at 0x1A (9), then the SEI and the IDR
    // picture; every set has id 0.
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("baseline_cavlc.264"));
    const std::vector<std::uint8_t> sps(stream.begin(), stream.begin() + 0x1A);
    const std::vector<std::uint8_t> pps(stream.begin() + 0x1A, stream.begin() + 0x23);
    const std::vector<std::uint8_t> rest(stream.begin() + 0x23, stream.end());
    // Its VUI cut off six bytes before its end: the parse runs out within the HRD.
    const std::vector<std::uint8_t> cut(sps.begin(), sps.end() - 6);
    struct Case {
        const char* Name;
        std::vector<std::vector<std::uint8_t>> Parts;
        bool Governed; // the IDR picture has a readable SPS
    } const cases[] = {
        {"intact", {sps, pps, rest}, true},
        {"cut in its VUI", {cut, pps, rest}, false},
        {"cut after a readable one", {sps, pps, cut, pps, rest}, true},
        {"readable after a cut one", {cut, pps, sps, pps, rest}, true},
    };
    TempDir dir;
    const std::string path = (dir.Path() / "stream.264").string();
    const std::string png = (dir.Path() / "picture.png").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::uint8_t> bytes;
        for (const auto& part : c.Parts) {
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        const std::int64_t idr = static_cast<std::int64_t>(bytes.size() - rest.size()) +
                                 (0x297 - 0x23); // the IDR slice, past the SEI

        const std::string info = LineAt(Dump({"--info", path}).out, idr);
        ASSERT_NE(info, "");
        EXPECT_EQ(info.find("frame_num 0") != std::string::npos, c.Governed) << info;
        EXPECT_EQ(info.find("(SPS 0 unreadable)") != std::string::npos, !c.Governed) << info;

        const std::string found = LineAt(Dump({"--find", "idr", "--info", path}).out, idr);
        EXPECT_EQ(found, info);

        const std::string tree = Dump({"--at", std::to_string(idr), "--full", path}).out;
        EXPECT_EQ(tree.find("slice_qp_delta") != std::string::npos, c.Governed) << tree;
        EXPECT_EQ(tree.find("cannot be read") != std::string::npos, !c.Governed) << tree;

        if (DecoderBuilt()) {
            const DumpResult picture = Dump({"--picture", std::to_string(idr), png, path});
            EXPECT_EQ(picture.status == 0, c.Governed) << picture.err;
            if (!c.Governed) {
                EXPECT_NE(picture.err.find("cannot be read"), std::string::npos) << picture.err;
            }
        }
    }
}

} // namespace
