#pragma once

// The JSON form of detail trees, for quillet-dump --json.

#include "cli/DumpOutput.h"
#include "cli/DumpTree.h"

#include <cstdint>
#include <string>
#include <string_view>

// text as a JSON string, quotes included. Control characters and bytes above 0x7F are
// written as \u escapes (the bytes taken as Latin-1), so the output is always valid.
std::string JsonString(std::string_view text);
void AppendJsonString(std::string_view text, TLineBuffer& lines);

// Appends line and its children as one JSON object: "text"; for an element line also
// "name" and "value"; when its bits are known "first_bit" (counted from the file's first
// bit, unitOffset being the offset of the line's unit) and "bits"; "children" when it has
// any.
void AppendJsonLine(const TDumpLine& line, std::int64_t unitOffset, TLineBuffer& lines);
