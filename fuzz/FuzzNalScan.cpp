// Any block of bytes through the window scan and the searches: no crash, no read outside
// the block, and the scan's units tile the block from the first start code on.

#include "stream/H264Utils.h"
#include "stream/NalScan.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    const std::vector<std::uint8_t> block(data, data + size);
    const auto n = static_cast<std::int32_t>(block.size());
    std::vector<TNalUnitLocator> locators(1 << 12);
    const std::int32_t count = ScanNalUnits(
        block.data(), n, 0, static_cast<std::int32_t>(locators.size()), locators.data());
    for (std::int32_t i = 0; i + 1 < count; ++i) {
        if (locators[i].Offset + locators[i].Len != locators[i + 1].Offset) {
            std::abort();
        }
    }
    std::int32_t index = 0;
    FindFirstStartCode(block.data(), n, index);
    for (std::int32_t c = -1; c < 4; ++c) {
        FindStartCodeBackward(block.data(), n, c, index);
    }
    return 0;
}
