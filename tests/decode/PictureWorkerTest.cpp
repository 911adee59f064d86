// The worker off the window's thread: a new request gives up the one under way, and only
// the latest request's result is ever handed out.

#include "decode/PictureWorker.h"
#include "PictureTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

class Results {
  public:
    void Notify() {
        const std::lock_guard<std::mutex> lock(FLock);
        ++FCount;
        FChanged.notify_all();
    }
    // Waits until notify has run count times in all.
    bool WaitFor(int count) {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(30), [&] { return FCount >= count; });
    }

  private:
    std::mutex FLock;
    std::condition_variable FChanged;
    int FCount = 0;
};

TEST(PictureWorker, ANewSelectionCancelsTheOneUnderWay) {
    const std::string path = TestDataPath("main_cabac.264");
    const std::vector<ExpectedPicture> expected = ReadPictures("main_cabac.pictures");
    Results results;
    TPictureWorker worker([&] { results.Notify(); });
    // Many requests in a row, as keys held down give them: only the last one is answered.
    const std::int64_t selections[] = {0x1D77, 0x1B92, 0x195C, 0x1586, 0x13BD, 0xD3F};
    for (const std::int64_t offset : selections) {
        worker.Request(path, offset, 88, 500);
    }
    std::optional<TPictureResult> result;
    for (int n = 1; !result || result->Offset != 0xD3F; ++n) {
        ASSERT_TRUE(results.WaitFor(n));
        result = worker.Take();
        // A result taken after the last request is that request's.
        if (result) {
            EXPECT_EQ(result->Offset, 0xD3F);
        }
    }
    ASSERT_EQ(result->Answer.Outcome, TPictureOutcome::Done) << result->Line;
    const auto p = *std::find_if(expected.begin(), expected.end(),
                                 [](const ExpectedPicture& e) { return e.Pos == 0xD3F; });
    EXPECT_EQ(PlanesChecksum(result->Answer.Decoded.Picture), p.Checksum);
    EXPECT_EQ(result->Rgb.Width, 88); // fitted into the area asked for
    EXPECT_EQ(result->Rgb.Pixels.size(), 88u * 72u);
    EXPECT_EQ(result->Line, PictureLine(result->Answer.Decoded));
    EXPECT_FALSE(worker.Take());
}

TEST(PictureWorker, AFileThatCannotBeReadIsSaidInTheLine) {
    Results results;
    TPictureWorker worker([&] { results.Notify(); });
    TempDir dir;
    worker.Request((dir.Path() / "missing.264").string(), 0);
    ASSERT_TRUE(results.WaitFor(1));
    const std::optional<TPictureResult> result = worker.Take();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Answer.Outcome, TPictureOutcome::Failed);
    EXPECT_FALSE(result->Line.empty());
    EXPECT_TRUE(result->Rgb.Pixels.empty());
}

} // namespace

namespace {

TEST(PictureFit, APictureIsShownWithinItsAreaWithItsSamplesShape) {
    struct Case {
        int Width, Height, SarNum, SarDen, AreaWidth, AreaHeight, FitWidth, FitHeight;
    } cases[] = {
        {176, 144, 0, 0, 0, 0, 176, 144},       // no area yet: full size
        {176, 144, 1, 1, 88, 500, 88, 72},      // narrower area
        {176, 144, 1, 1, 500, 72, 88, 72},      // lower area
        {176, 144, 1, 1, 1000, 1000, 176, 144}, // never larger than the picture
        {720, 576, 16, 11, 0, 0, 1047, 576},    // PAL 4:3 samples are wide
        {1920, 1080, 1, 1, 640, 480, 640, 360},
    };
    for (const Case& c : cases) {
        TPicture picture;
        picture.Width = c.Width;
        picture.Height = c.Height;
        picture.SarNum = c.SarNum;
        picture.SarDen = c.SarDen;
        int width = 0;
        int height = 0;
        FitPicture(picture, c.AreaWidth, c.AreaHeight, width, height);
        EXPECT_EQ(width, c.FitWidth) << c.Width << "x" << c.Height << " in " << c.AreaWidth;
        EXPECT_EQ(height, c.FitHeight) << c.Width << "x" << c.Height << " in " << c.AreaWidth;
    }
}

} // namespace
