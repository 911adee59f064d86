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
//   --debug                        the debugger lines go to err (otherwise nowhere)
//   --help, -h, --version          the usage or the version on out, status 0
// A refusal of the arguments writes what was wrong, then the usage, to err.
// Tree lines are indented by two spaces per level ("NAL" has none; under --trees every
// tree line gets two more). args are the command's arguments without the program name.
// Returns the exit status: 0 done, 1 the file could not be opened or read, is not an
// H.264 elementary stream or changed while it was read, or out could not be written
// (out is flushed before the status is chosen); 2 bad arguments (an OFFSET at which no
// listed NAL unit begins too).
int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
