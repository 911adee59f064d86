// Any bytes at a NAL unit's offset: the detail decoding must neither crash nor read
// outside what it was given. The first byte picks the governing SPS's chroma format. The
// deeper decoding runs as well, with parameter sets parsed from the same bytes, so that
// slices and SEI messages meet every kind of set too, and again with the unit's length told
// as a walk tells it.

#include "FuzzSets.h"
#include "core/DebugOutput.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/SyntaxTree.h"
#include "syntax/nal_unit.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

class NoBits final : public ILineBits {
  public:
    void LineBits(TTreeLine, std::int64_t, std::int64_t) override {}
};

// Every line's text and bits, a line before its children.
std::vector<std::string> Lines(const TSyntaxTree& tree) {
    std::vector<std::string> lines;
    tree.Walk([&lines](const TSyntaxLine& line, int depth) {
        lines.push_back(std::to_string(depth) + line.Text + std::to_string(line.FirstBit));
    });
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (SetDebugSink([](std::string_view) {}), true);
    (void)quiet;
    if (size < 1 || size > kDetailReadSize) {
        return 0;
    }
    const std::uint32_t chroma = data[0] & 3u;
    // Exact-size copies, so that a read past the end is caught.
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    auto rbsp = std::make_unique<std::uint8_t[]>(bytes.size() + 1);
    TBitStream4 reader;
    TSyntaxTree tree;
    DecodeNalUnit(bytes.data(), static_cast<std::int32_t>(bytes.size()), rbsp.get(), reader, tree,
                  [chroma](std::uint32_t) { return std::optional<std::uint32_t>(chroma); });
    InputSets sets(data, static_cast<std::int32_t>(size));
    NoBits bits;
    const TFullDecoding full{&sets, &bits};
    DecodeNalUnit(bytes.data(), static_cast<std::int32_t>(bytes.size()), rbsp.get(), reader, tree,
                  {}, nullptr, &full);
    // The unit's length as a walk measured it gives the same tree; any other stays within
    // the bytes.
    const auto n = static_cast<std::int32_t>(bytes.size());
    std::int32_t length = 0;
    if (GetNalUnitLength(bytes.data(), n, length)) {
        TSyntaxTree told;
        DecodeNalUnit(bytes.data(), n, rbsp.get(), reader, told, {}, nullptr, &full, length);
        if (Lines(told) != Lines(tree)) {
            std::abort();
        }
        DecodeNalUnit(bytes.data(), n, rbsp.get(), reader, told, {}, nullptr, &full,
                      static_cast<std::int32_t>(data[0]) * 7 % (n + 8));
    }
    SpsChromaFormat(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return 0;
}
