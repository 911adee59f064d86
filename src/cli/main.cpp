#include "cli/DumpCommand.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    const int status = RunDump(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
