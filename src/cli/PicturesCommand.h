#pragma once

// quillet-dump --pictures: one line per picture in decoding (or display) order, or one
// JSON document, from the picture model over the whole stream in fixed memory.

#include <ostream>

class FileStream;

void PrintPictures(FileStream& stream, bool json, bool displayOrder, std::ostream& out);
