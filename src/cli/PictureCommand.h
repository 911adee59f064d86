#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class FileStream;

// The listing shows a unit at offset: a start code there that is not the tail of a longer
// one.
bool ListedUnitAt(FileStream& stream, std::int64_t size, std::int64_t offset);

// quillet-dump --picture OFFSET OUT.y4m FILE, once FILE is open and known to be a stream:
// the decoded picture of the access unit that holds the NAL unit at OFFSET, as a one-frame
// YUV4MPEG2 file in the stream's own sampling (OUT.y4m "-" writes it to out). Returns the
// exit status: 0 written; 1 the picture cannot be decoded (the reason goes to err) or the
// output cannot be written; 2 no NAL unit begins at OFFSET. Read failures are thrown.
int DumpPicture(FileStream& stream, std::int64_t offset, const std::string& outPath,
                std::ostream& out, std::ostream& err);
