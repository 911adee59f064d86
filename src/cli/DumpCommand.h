#pragma once

#include <ostream>
#include <string>
#include <vector>

// quillet-dump: the headless listing of a stream file, for scripts and tests.
// args are the command's arguments without the program name. Returns the exit status:
// 0 done, 1 the file could not be opened or is not an H.264 elementary stream, 2 bad
// arguments.
int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
