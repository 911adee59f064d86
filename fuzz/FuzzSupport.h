#pragma once

// What the fuzz targets that read files share: the input written to a file of this
// process's own, since the code under test reads files by path.

#include "core/DebugOutput.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// The file the input is written to, of this target and process alone, so that targets
// running side by side never share one; in memory where the system offers that, since every
// input is written once. Removed when the run ends.
class TFuzzFile {
  public:
    explicit TFuzzFile(const char* target)
        : FPath((access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                std::string("/quillet-fuzz-") + target + "-" + std::to_string(getpid())) {}
    ~TFuzzFile() { std::remove(FPath.c_str()); }
    TFuzzFile(const TFuzzFile&) = delete;
    TFuzzFile& operator=(const TFuzzFile&) = delete;

    const std::string& Path() const { return FPath; }
    void Write(const std::uint8_t* data, std::size_t size) const {
        std::ofstream(FPath, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

  private:
    std::string FPath;
};

// Names the invariant that broke, so that a finding reads at once.
inline void FuzzCheck(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// The code under test writes a debugger line for each failure it survives; a fuzz run
// would drown in them.
inline void SilenceDebugOutput() {
    static const bool silenced = [] {
        SetDebugSink([](std::string_view) {});
        return true;
    }();
    (void)silenced;
}
