#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

class FileStream;
struct TDecodedPicture;

// A picture file's name asks for PNG when it ends in ".png", in any case.
bool IsPngPath(const std::string& path);

// Writes size bytes to the file at path, replacing it ("-": to out). False with the line
// that names the path and the reason when it cannot.
bool WriteOutput(const std::string& path, const void* data, std::size_t size, std::ostream& out,
                 std::string& error);
// The same for what write puts out.
bool WriteOutput(const std::string& path, const std::function<void(std::ostream&)>& write,
                 std::ostream& out, std::string& error);

// What a written picture carries to standard error: each of its warnings, one a line.
void WarnAboutPicture(const TDecodedPicture& decoded, std::ostream& err);

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
