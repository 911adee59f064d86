#pragma once

// What the fuzz targets that read files share: the input written to a file of this
// process's own, since the code under test reads files by path.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// A file path for this target and process; two targets running side by side never share
// it. In memory where the system offers that, since every input is written once.
inline std::string FuzzFilePath(const char* target) {
    const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return folder + "/quillet-fuzz-" + target + "-" + std::to_string(getpid());
}

inline void WriteFuzzFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Names the invariant that broke, so that a finding reads at once.
inline void FuzzCheck(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}
