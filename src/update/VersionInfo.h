#pragma once

// TVersionInfo: the version resource of an executable file.

#include "update/VersionBlock.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The file carries no version data.
class ENoVersion : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The file's version data cannot be used.
class EVersion : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A version block as bytes, such as ReadVersionBlock finds in a file.
struct TVersionBlockBytes {
    std::vector<std::uint8_t> Bytes;
};

class TVersionInfo {
  public:
    // Reads the version data of the file at fileName; raises ENoVersion or EVersion.
    explicit TVersionInfo(const std::string& fileName);
    // The same from a block already read, walked by this program rather than by the
    // platform: Windows finds version data only in a resource, never in a plain file.
    explicit TVersionInfo(TVersionBlockBytes block);
    TVersionInfo(const TVersionInfo&) = delete;
    TVersionInfo& operator=(const TVersionInfo&) = delete;

    // Names of the build flags set in the fixed file information.
    const std::vector<std::string>& Flags() const { return FFlags; }
    TFixedFileInfo FixedFileInfo() const;
    std::uint32_t TranslationLength() const { return FTranslationLength; }

  private:
    using TQuery = bool (*)(std::vector<std::uint8_t>& data, const char* subBlock,
                            const std::uint8_t*& value, std::uint32_t& length);
    void Parse(TQuery query);

    std::vector<std::string> FFlags;
    const std::uint8_t* FFixedInfo = nullptr; // into FVersionData
    std::uint32_t FTranslationLength = 0;
    const std::uint8_t* FTranslation = nullptr; // into FVersionData
    std::uint32_t FVersionDataSize = 0;
    std::vector<std::uint8_t> FVersionData;
};
