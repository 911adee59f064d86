// The program's version resource. Windows keeps it as a VERSIONINFO resource; elsewhere
// the same block sits in a section of its own in the executable, where the update check
// finds it by reading the executable file.

#include "update/VersionBlock.h"

namespace {

constexpr TVersionBlockImage kOwnVersion = BuildVersionBlock({
    QUILLET_VERSION_MAJOR,
    QUILLET_VERSION_MINOR,
    QUILLET_VERSION_RELEASE,
    QUILLET_VERSION_BUILD,
});

#if defined(__APPLE__)
#define QUILLET_VERSION_SECTION "__DATA,__quillet_ver"
#else
#define QUILLET_VERSION_SECTION ".quillet_version"
#endif

[[gnu::used,
  gnu::section(QUILLET_VERSION_SECTION)]] const std::array<std::uint8_t, kVersionBlockCapacity>
    QuilletVersionResource = kOwnVersion.Bytes;

} // namespace
