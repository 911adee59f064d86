// Any file through the check that decides whether a file is an H.264 elementary stream:
// no crash and no read outside its block, and a yes only for a file that begins, after
// any leading bytes, with two start codes each followed by a header byte whose top bit is
// clear; a refusal comes with its reason.

#include "FuzzSupport.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TFuzzFile file("is-h264");
    file.Write(data, size);
    FileStream stream;
    FuzzCheck(stream.Open(file.Path()), "the file opens");
    std::string reason;
    const bool yes = IsH264VideoES(stream, &reason);
    FuzzCheck(yes == reason.empty(), "a refusal always says why, an acceptance never");
    if (yes) {
        int codes = 0;
        for (std::size_t i = 0; i < size; ++i) {
            codes += StartCodeLength(data + i, static_cast<std::int64_t>(size - i)) != 0;
        }
        FuzzCheck(codes >= 2, "a stream holds two start codes");
    }
    return 0;
}
