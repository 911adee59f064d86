#pragma once

#include <ostream>
#include <string>
#include <vector>

// quillet-dump: the headless listing and detail trees of a stream file, for scripts and
// tests.
//   quillet-dump FILE              one line per NAL unit: Offset, Len, Start Code, NAL Type
//   quillet-dump --at OFFSET FILE  the detail tree of the NAL unit whose start code begins
//                                  at OFFSET (decimal, or hexadecimal after 0x)
//   quillet-dump --trees FILE      every NAL unit's listing line followed by its tree
// Tree lines are indented by two spaces per level ("NAL" has none; under --trees every
// tree line gets two more). args are the command's arguments without the program name.
// Returns the exit status: 0 done, 1 the file could not be opened or read or is not an
// H.264 elementary stream, 2 bad arguments (an OFFSET at which no NAL unit begins too).
int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
