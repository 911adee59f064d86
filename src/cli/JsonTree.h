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

// Appends detail trees' lines, each with its children, as JSON objects: "text"; for an
// element line also "name" and "value", and "meaning" when it has one; when its bits are
// known "first_bit" (counted from the file's first bit, unitOffset being the offset of the
// line's unit) and "bits"; "children" when it has any.
class TJsonTreeWriter {
  public:
    explicit TJsonTreeWriter(TLineBuffer& lines) : FLines(lines) {}
    void Line(const TDumpLine& line, std::int64_t unitOffset);

  private:
    char* PutBits(char* out, const TDumpLine& line, std::int64_t unitOffset);

    TLineBuffer& FLines;
    // The last first bit written, and its digits.
    std::uint64_t FFirstBit = 0;
    char FFirstBitText[24] = {};
    std::size_t FFirstBitSize = 0;
};
