// quillet-dump on Windows. The arguments come as Windows hands them over, in UTF-16, so that
// a file name in any script reaches the program (inside, names are UTF-8 as on Linux); the
// output is written as it is, LF line ends and all, since scripts compare it across
// platforms and the C runtime's text mode would turn every LF into CR LF.

#include "cli/DumpCommand.h"
#include "core/WideText.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(Narrow(argv[i]));
    }
    // RunDump flushes the output itself, so that a failed write decides the status.
    return RunDump(args, std::cout, std::cerr);
}
