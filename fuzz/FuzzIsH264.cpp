// Any file through the check that decides whether a file is an H.264 elementary stream:
// no crash and no read outside its block, and a yes only for a file that begins, after
// any leading bytes, with two start codes each followed by a header byte whose top bit is
// clear; a refusal comes with its reason. The same bytes go through the removal of
// emulation-prevention bytes and the map back to where each byte lies, checked against a
// walk of one byte at a time.

#include "FuzzSupport.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The removal as the syntax reads: at each byte, 00 00 03 loses its 03. stored receives
// where each byte written lies in data.
std::vector<std::uint8_t> WithoutEmulationPrevention(const std::uint8_t* data, std::size_t size,
                                                     std::vector<std::int32_t>& stored) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        stored.push_back(static_cast<std::int32_t>(i));
        if (size - i >= 3 && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 3) {
            out.push_back(0);
            stored.push_back(static_cast<std::int32_t>(i + 1));
            i += 2;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TFuzzFile file("is-h264");
    file.Write(data, size);
    FileStream stream;
    FuzzCheck(stream.Open(file.Path()), "the file opens");
    std::string reason;
    const bool yes = IsH264VideoES(stream, &reason);
    FuzzCheck(yes == reason.empty(), "a refusal always says why, an acceptance never");
    if (yes) {
        int codes = 0;
        for (std::size_t i = 0; i < size; ++i) {
            codes += StartCodeLength(data + i, static_cast<std::int64_t>(size - i)) != 0;
        }
        FuzzCheck(codes >= 2, "a stream holds two start codes");
    }
    std::vector<std::uint8_t> removed(size + 1);
    std::int32_t written = -1;
    Remove_emulation_prevention_three_bytes(data, static_cast<std::int32_t>(size), removed.data(),
                                            written);
    removed.resize(static_cast<std::size_t>(std::max(written, 0)));
    std::vector<std::int32_t> stored;
    FuzzCheck(written >= 0 && removed == WithoutEmulationPrevention(data, size, stored),
              "the removal drops exactly the 03 of each 00 00 03");
    const auto length = static_cast<std::int32_t>(size);
    for (std::size_t i = 0; i <= stored.size(); ++i) {
        const std::int32_t expected = i < stored.size() ? stored[i] : length;
        FuzzCheck(StoredIndexOfRbspByte(data, length, static_cast<std::int32_t>(i)) == expected,
                  "each byte written is found where it lies");
    }
    // Bits asked for one unit in any order: forwards, then back from a byte the first byte
    // of the input names.
    TStoredBitMap map(data, length);
    const std::size_t back = size > 0 ? data[0] % (stored.size() + 1) : 0;
    for (std::size_t i = 0; i <= stored.size() + back; ++i) {
        const std::size_t byte = i <= stored.size() ? i : stored.size() - (i - stored.size());
        const std::int64_t bit =
            8 * static_cast<std::int64_t>(byte) + static_cast<std::int64_t>(i % 8);
        const std::int32_t at = byte < stored.size() ? stored[byte] : length;
        FuzzCheck(map.StoredBit(bit) == 8 * static_cast<std::int64_t>(at) + bit % 8,
                  "a unit's map finds each bit where it lies");
    }
    return 0;
}
