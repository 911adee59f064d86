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

class TVersionInfo {
  public:
    // Reads the version data of the file at fileName; raises ENoVersion or EVersion.
    explicit TVersionInfo(const std::string& fileName);

    // Names of the build flags set in the fixed file information.
    const std::vector<std::string>& Flags() const { return FFlags; }
    TFixedFileInfo FixedFileInfo() const;
    std::uint32_t TranslationLength() const { return FTranslationLength; }

  private:
    std::vector<std::string> FFlags;
    const std::uint8_t* FFixedInfo = nullptr; // into FVersionData
    std::uint32_t FTranslationLength = 0;
    const std::uint8_t* FTranslation = nullptr; // into FVersionData
    std::uint32_t FVersionDataSize = 0;
    std::vector<std::uint8_t> FVersionData;
};
