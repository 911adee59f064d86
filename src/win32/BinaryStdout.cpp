// quillet-dump writes the bytes Linux writes: the C runtime's text mode would turn every
// LF into CR LF, and scripts compare outputs across platforms.

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace {

const bool kBinaryStdout = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return true;
}();

} // namespace
