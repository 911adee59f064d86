#include "cli/DumpCommand.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    // RunDump flushes the output itself, so that a failed write decides the status.
    return RunDump(args, std::cout, std::cerr);
}
