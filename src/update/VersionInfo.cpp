#include "update/VersionInfo.h"

#include <cstring>
#include <utility>

#ifdef _WIN32
#include "core/WideText.h"

#include <windows.h>
#endif

namespace {

bool QueryBlockValue(std::vector<std::uint8_t>& data, const char* subBlock,
                     const std::uint8_t*& value, std::uint32_t& length) {
    return QueryVersionValue(data, subBlock, value, length);
}

#ifdef _WIN32
std::vector<std::uint8_t> ReadVersionData(const std::string& fileName) {
    const std::wstring name = Widen(fileName);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
    if (size == 0) {
        return {};
    }
    std::vector<std::uint8_t> data(size);
    if (!GetFileVersionInfoW(name.c_str(), 0, size, data.data())) {
        return {};
    }
    return data;
}

bool QueryValue(std::vector<std::uint8_t>& data, const char* subBlock, const std::uint8_t*& value,
                std::uint32_t& length) {
    LPVOID found = nullptr;
    UINT foundLength = 0;
    if (!VerQueryValueW(data.data(), Widen(subBlock).c_str(), &found, &foundLength)) {
        return false;
    }
    value = static_cast<const std::uint8_t*>(found);
    length = foundLength;
    return true;
}
#else
// Elsewhere the executable carries the same block as Windows would in a section of its
// own, and it is read from the file directly.
std::vector<std::uint8_t> ReadVersionData(const std::string& fileName) {
    return ReadVersionBlock(fileName);
}

constexpr auto QueryValue = QueryBlockValue;
#endif

struct TFlagName {
    std::uint32_t Bit;
    const char* Name;
};
constexpr TFlagName kFlagNames[] = {
    {0x01, "DEBUG"},        {0x04, "PATCHED"},      {0x02, "PRERELEASE"},
    {0x08, "PRIVATEBUILD"}, {0x20, "SPECIALBUILD"},
};

} // namespace

TVersionInfo::TVersionInfo(const std::string& fileName) {
    FVersionData = ReadVersionData(fileName);
    Parse(QueryValue);
}

TVersionInfo::TVersionInfo(TVersionBlockBytes block) {
    FVersionData = std::move(block.Bytes);
    Parse(QueryBlockValue);
}

void TVersionInfo::Parse(TQuery query) {
    if (FVersionData.empty()) {
        throw ENoVersion("No version information");
    }
    FVersionDataSize = static_cast<std::uint32_t>(FVersionData.size());
    std::uint32_t fixedLength = 0;
    if (!query(FVersionData, "\\", FFixedInfo, fixedLength)) {
        throw EVersion("Error geting fixed version info");
    }
    if (fixedLength < kFixedFileInfoSize) {
        throw EVersion("Bad fixed version info size");
    }
    if (!query(FVersionData, "\\VarFileInfo\\Translation", FTranslation, FTranslationLength)) {
        throw EVersion("Bad translation in version info");
    }
    const std::uint32_t flags = FixedFileInfo().dwFileFlags;
    for (const auto& flag : kFlagNames) {
        if ((flags & flag.Bit) != 0) {
            FFlags.emplace_back(flag.Name);
        }
    }
}

TFixedFileInfo TVersionInfo::FixedFileInfo() const {
    TFixedFileInfo info;
    std::memcpy(&info, FFixedInfo, sizeof info);
    return info;
}
