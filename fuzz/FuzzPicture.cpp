// Any file through the walk that feeds the picture decoder: the start search back from a
// unit, the access unit rules over every slice header, the parameter sets found before the
// start, the picture order count, and stepping forward and back. The decoder is a stand-in
// that gives each access unit back as a picture, a few units late and out of order as a
// decoder with reordering does, so that the walk alone is under test, quickly.

#include "FuzzSupport.h"
#include "decode/AccessUnitDecoder.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <cstdint>
#include <deque>

namespace {

class TEchoDecoder final : public IPictureDecoder {
  public:
    void Reset() override { FHeld.clear(); }
    bool Send(const TAccessUnitIn& unit, std::string& error) override {
        const std::uint8_t* data = unit.Data;
        const std::size_t size = unit.Size;
        const std::int64_t tag = unit.Tag;
        FuzzCheck(size >= 5 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1,
                  "an access unit begins with a four-byte start code");
        if (data[4] == 0xFF) {
            error = "refused";
            return false;
        }
        FHeld.push_front(tag); // the newest first: out of order
        return true;
    }
    bool Drain(std::string&) override {
        FDrained = true;
        return true;
    }
    bool Receive(const std::function<TPicture*(std::int64_t tag)>& place,
                 std::int64_t& tag) override {
        if (FHeld.empty() || (FHeld.size() < 3 && !FDrained)) {
            return false;
        }
        tag = FHeld.back();
        FHeld.pop_back();
        if (TPicture* picture = place(tag)) {
            *picture = TPicture{};
            picture->Width = 16;
            picture->Height = 16;
        }
        return true;
    }

  private:
    std::deque<std::int64_t> FHeld;
    bool FDrained = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TFuzzFile file("picture");
    file.Write(data, size);
    FileStream stream;
    FuzzCheck(stream.Open(file.Path()), "the file opens");
    TEchoDecoder decoder;
    TAccessUnitDecoder units(stream, stream.Size(), decoder);
    // A handful of units in file order, then the first again: forward steps and a step back.
    std::int64_t offsets[9];
    int count = 0;
    for (std::int64_t at = FindStartCode(data, static_cast<std::int64_t>(size), 0,
                                         static_cast<std::int64_t>(size) - 3);
         at >= 0 && count < 8; at = FindStartCode(data, static_cast<std::int64_t>(size), at + 3,
                                                  static_cast<std::int64_t>(size) - 3)) {
        offsets[count++] = at;
    }
    if (count > 0) {
        offsets[count++] = offsets[0];
    }
    for (int i = 0; i < count; ++i) {
        const TPictureAnswer answer = units.Decode(offsets[i]);
        if (answer.Outcome == TPictureOutcome::Done) {
            const TPictureFacts& f = answer.Decoded.Facts;
            FuzzCheck(f.Pictures >= 1, "a picture counts itself");
            FuzzCheck(f.AccessUnitOffset <= offsets[i],
                      "the access unit begins at or before the unit");
            FuzzCheck(!PictureLine(answer.Decoded).empty(), "a picture has its line");
        } else {
            FuzzCheck(!answer.Message.empty(), "a failure says why");
        }
    }
    return 0;
}
