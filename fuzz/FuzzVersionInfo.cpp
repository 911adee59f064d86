// Arbitrary bytes as a version block and as an executable holding one: the walker that
// looks up a sub-block never points outside the block, and reading a file's version data
// either succeeds with a whole fixed part or fails with one of its two errors.

#include "FuzzSupport.h"
#include "update/VersionBlock.h"
#include "update/VersionInfo.h"

#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TFuzzFile file("version-info");
    const std::vector<std::uint8_t> block(data, data + size);
    for (const std::string_view sub : {"\\", "\\VarFileInfo\\Translation", "\\\\varfileinfo\\\\",
                                       "\\StringFileInfo\\x\\y", ""}) {
        const std::uint8_t* value = nullptr;
        std::uint32_t length = 0;
        if (QueryVersionValue(block, sub, value, length)) {
            FuzzCheck(length > 0 && value >= block.data() &&
                          value + length <= block.data() + block.size(),
                      "the value lies inside the block");
        }
    }
    file.Write(data, size);
    try {
        const TVersionInfo info(file.Path());
        FuzzCheck(info.FixedFileInfo().dwSignature == kFixedFileInfoSignature,
                  "a fixed part in use carries its signature");
        FuzzCheck(info.Flags().size() <= 5, "at most the five flags");
    } catch (const ENoVersion&) {
    } catch (const EVersion&) {
    }
    return 0;
}
