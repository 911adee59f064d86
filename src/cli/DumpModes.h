#pragma once

// The modes of quillet-dump that add to the listing, each in its own file.

#include "model/UnitSearch.h"

#include <ostream>
#include <string>

class FileStream;

// The listing with a fifth tab-separated field: the unit's summary (the window's Info
// column), from the bytes the walk keeps of each unit, so that standard input can be listed.
void PrintInfoListing(FileStream& stream, std::ostream& out);
// The listing lines of the units of kind only, written as the walk finds them; withInfo,
// each with its summary as a fifth field. A walk from the file's start has met every set
// a slice can use, so standard input and a file are judged alike.
void PrintFindListing(FileStream& stream, bool withInfo, const TFindKind& kind, std::ostream& out);
// The whole stream's figures as one JSON document (the keys in the README). With progress,
// a line there says how far the walk has come.
void PrintSummary(FileStream& stream, const std::string& path, std::ostream& out,
                  std::ostream* progress);
