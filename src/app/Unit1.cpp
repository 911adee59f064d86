#include "app/Unit1.h"

#include "core/Guard.h"
#include "stream/NalScan.h"

#include <algorithm>

TForm1::TForm1(const TForm1Widgets& widgets)
    : ScanBuffer(static_cast<std::size_t>(kScanBufferSize)),
      TableLock(std::make_unique<std::recursive_mutex>()), Widgets(widgets) {}

TForm1::~TForm1() = default;

std::int32_t TForm1::RowsPerPage() const {
    const int rows = Widgets.ListView1 ? Widgets.ListView1->RowsPerPage() : 0;
    return std::clamp(rows, 0, kMaxLocators);
}

std::int32_t TForm1::ReadBlock(std::int64_t position, std::int32_t count) {
    Stream->Seek(position);
    return Stream->Read(ScanBuffer.data(), count);
}

void TForm1::RefreshPosition(std::int64_t Start) {
    if (!TableLock) {
        return;
    }
    std::lock_guard lock(*TableLock);
    // Whatever happens in the scan, the list ends up agreeing with the table.
    const auto finish = [this] {
        RowCapacity = RowsPerPage();
        if (Widgets.ListView1) {
            Widgets.ListView1->SetRowCount(LocatorCount);
        }
    };
    GuardVoid("TForm1.RefreshPosition", [&] {
        try {
            ScanWindow(Start);
        } catch (...) {
            finish();
            throw;
        }
        finish();
    });
}

void TForm1::ScanWindow(std::int64_t Start) {
    RowCapacity = RowsPerPage();
    if (Widgets.ListView1) {
        Widgets.ListView1->SetRowCount(RowCapacity);
    }
    if (!Stream) {
        return;
    }
    LocatorCount = 0;
    const std::int32_t n = ReadBlock(Start, kWindowScanSize);
    LocatorCount = ScanNalUnits(ScanBuffer.data(), n, Start, RowCapacity, Locators.data());
    if (LocatorCount > 0) {
        // A start code that ends the block takes its header byte from the file.
        TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
        if (HeaderOutsideBlock(last, Start, n)) {
            std::uint8_t header = 0;
            Stream->Seek(last.Offset + (last.StartCodeWord == 1 ? 4 : 3));
            if (Stream->Read(&header, 1) == 1) {
                SetLocatorHeader(last, header);
            }
        }
    }
}

bool TForm1::SearchNextPackPositionFromPos(std::int64_t& Found, std::int64_t Position) {
    return Guard("TForm1.SearchNextPackPositionFromPos", false, [&] {
        if (FileName.empty() || !Stream || Position < 0 || Position >= Stream->Size()) {
            return false;
        }
        const std::int32_t n = ReadBlock(Position, kForwardSearchSize);
        std::int32_t index = 0;
        if (n <= 0 || !FindFirstStartCode(ScanBuffer.data(), n, index)) {
            return false;
        }
        Found = Position + index;
        return true;
    });
}

bool TForm1::SearchBackward(const char* routine, std::int64_t& Found, std::int32_t Count,
                            std::int64_t Position, std::int32_t blockSize) {
    return Guard(routine, false, [&] {
        if (FileName.empty() || !Stream || Position < 0 || Position >= Stream->Size()) {
            return false;
        }
        const std::int64_t blockStart = std::max<std::int64_t>(Position - blockSize, 0);
        const auto want = static_cast<std::int32_t>(Position - blockStart + 4);
        const std::int32_t n = ReadBlock(blockStart, want);
        std::int32_t index = 0;
        if (n <= 0 || !FindStartCodeBackward(ScanBuffer.data(), n, Count, index)) {
            return false;
        }
        Found = blockStart + index;
        return true;
    });
}

bool TForm1::SearchPreviousPackPositionFromPos(std::int64_t& Found, std::int64_t Position) {
    return SearchBackward("TForm1.SearchPreviousPackPositionFromPos", Found, 1, Position,
                          kPreviousSearchSize);
}

bool TForm1::SearchBackPackPositionFromPos(std::int64_t& Found, std::int32_t Count,
                                           std::int64_t Position) {
    return SearchBackward("TForm1.SearchBackPackPositionFromPos", Found, Count, Position,
                          kBackCountSearchSize);
}

// --- handlers being written ---
void TForm1::FormCreate() {}
void TForm1::FormShow() {}
void TForm1::FormClose() {}
void TForm1::FormResize() {}
void TForm1::RefreshCaption() {}
void TForm1::Open1Click() {}
void TForm1::Close1Click() {}
void TForm1::Exit1Click() {}
void TForm1::About1Click() {}
bool TForm1::LoadFile(const std::string&) { return false; }
bool TForm1::UnloadFile() { return false; }
void TForm1::WMDROPFILES(TMessage&) {}
void TForm1::ListView1Data(int, TReportRow&) {}
void TForm1::ListView1KeyDown(int) {}
void TForm1::ListView1KeyUp(int) {}
void TForm1::ListView1MouseDown() {}
void TForm1::MyScrollMouseDown() {}
void TForm1::ListView1WindowProc(TMessage&) {}
void TForm1::UpdatePack(std::int64_t) {}
