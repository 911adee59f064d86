#pragma once

#include <ostream>

class FileStream;

// Exit status of --check when it finds an error.
inline constexpr int kCheckErrorsStatus = 3;

// quillet-dump --check: the stream check's problems as it finds them, one line each
// (offset, unit type, severity, rule, reason) and the counts by rule after them; with json,
// one document {"problems": [...], "counts": {...}}. Fixed memory whatever the file's size.
// Returns 0, or kCheckErrorsStatus when an error was found.
int DumpCheck(FileStream& stream, bool json, std::ostream& out);
