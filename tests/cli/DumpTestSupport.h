#pragma once

// Runs quillet-dump in-process and splits what it printed.

#include "cli/DumpCommand.h"
#include "support/TestSupport.h"

#include <sstream>
#include <string>
#include <vector>

struct DumpResult {
    int status;
    std::string out;
    std::string err;
};

inline DumpResult Dump(const std::vector<std::string>& args) {
    DebugCapture quiet; // the SPS warnings go to the debugger channel, not to out or err
    std::ostringstream out, err;
    const int status = RunDump(args, out, err);
    return {status, out.str(), err.str()};
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
