#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// quillet-dump --picture OFFSET OUT.y4m FILE: the decoded picture of the access unit that
// holds the NAL unit at OFFSET, as a one-frame YUV4MPEG2 file in the stream's own sampling
// (OUT.y4m "-" writes it to out). Returns the exit status: 0 written; 1 the file cannot be
// read or is no H.264 stream, the picture cannot be decoded (the reason goes to err), or the
// output cannot be written; 2 no NAL unit begins at OFFSET.
int RunPictureDump(std::int64_t offset, const std::string& outPath, const std::string& path,
                   std::ostream& out, std::ostream& err);

inline constexpr const char* kPictureUsage = "usage: quillet-dump --picture OFFSET OUT.y4m FILE";
