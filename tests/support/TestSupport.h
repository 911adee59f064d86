#pragma once

// Helpers shared by the tests: a capture of the debugger output channel, temporary files,
// and the location of the test streams.

#include "core/DebugOutput.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Captures every debugger-output line for its lifetime.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    const std::vector<std::string>& Lines() const { return FLines; }
    void Clear() { FLines.clear(); }

  private:
    std::vector<std::string> FLines;
    DebugSink FPrevious;
};

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return FPath; }
    // Writes bytes to a file in this folder and returns its path.
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

  private:
    std::filesystem::path FPath;
};

// Sets the size of an existing file; what it grows by is a hole that takes no disk. Windows
// leaves holes only in a file marked sparse, so there the file is marked first.
void ResizeSparse(const std::string& path, std::int64_t size);

// Offsets of every NAL unit of a test stream, from its independent listing (NAME.nals).
std::vector<std::int64_t> ListedUnitOffsets(const std::string& stream);

// Path of a file in tests/data.
std::string TestDataPath(const std::string& name);
// Whole content of a file.
std::vector<std::uint8_t> ReadAll(const std::string& path);
// Bytes from a compact hex text such as "00 00 01 67" (blanks ignored).
std::vector<std::uint8_t> Hex(const std::string& text);
