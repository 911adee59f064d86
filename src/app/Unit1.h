#pragma once

// TForm1: the main window's state and handlers, free of any widget toolkit. It reaches its
// widgets only through the interfaces of toolkit/Toolkit.h.

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "toolkit/Toolkit.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

inline constexpr std::int32_t kScanBufferSize = 10485760; // 10 MiB
inline constexpr std::int32_t kMaxLocators = 256;

// The widgets the window logic works on; each may be absent in a test that does not need
// it.
struct TForm1Widgets {
    IReportList* ListView1 = nullptr;
};

class TForm1 {
  public:
    explicit TForm1(const TForm1Widgets& widgets);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Scans the window that begins at Start into Locators and brings the NAL list's row
    // count to the number found.
    void RefreshPosition(std::int64_t Start);
    // The first start code at or after Position, within 2 MiB.
    bool SearchNextPackPositionFromPos(std::int64_t& Found, std::int64_t Position);
    // The last start code at or before Position, no further back than 2 MiB.
    bool SearchPreviousPackPositionFromPos(std::int64_t& Found, std::int64_t Position);
    // The Count-th start code counting backward from Position, within 4 MiB; the earliest
    // one met when fewer are there.
    bool SearchBackPackPositionFromPos(std::int64_t& Found, std::int32_t Count,
                                       std::int64_t Position);

    // The loaded-file state.
    std::string FileName;
    std::unique_ptr<FileStream> Stream;
    std::vector<std::uint8_t> ScanBuffer;
    std::array<TNalUnitLocator, kMaxLocators> Locators{};
    std::int32_t LocatorCount = 0;
    std::int32_t RowCapacity = 0;
    std::int64_t WindowPosition = 0;
    std::int32_t LastScrollPosition = 0;
    std::unique_ptr<std::recursive_mutex> TableLock;

    TForm1Widgets Widgets;

  private:
    std::int32_t RowsPerPage() const;
    void ScanWindow(std::int64_t Start);
    // Reads up to count bytes at position into the start of ScanBuffer.
    std::int32_t ReadBlock(std::int64_t position, std::int32_t count);
    bool SearchBackward(const char* routine, std::int64_t& Found, std::int32_t Count,
                        std::int64_t Position, std::int32_t blockSize);
};
