#pragma once

// Huge sparse test files: copies of a stream at a few offsets, holes between, and whether
// the platform tells where the holes lie (Wine, for one, does not; the file's holes are then
// read like any other bytes, and a test that needs them passed unread cannot run).

#include "stream/FileStream.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

// A file of size bytes holding bytes at each of bases, made sparse before anything is
// written (Windows would otherwise fill the gaps with zeros).
inline void WriteSparseCopies(const std::string& path, std::int64_t size,
                              const std::vector<std::uint8_t>& bytes,
                              std::initializer_list<std::int64_t> bases) {
    { std::ofstream create(path, std::ios::binary); }
    ResizeSparse(path, size);
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const std::int64_t base : bases) {
        out.seekp(base);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
}

inline bool ReportsHoles(const std::string& path, std::int64_t inHole) {
    FileStream stream;
    return stream.Open(path) && stream.NextDataOffset(inHole) != inHole;
}
