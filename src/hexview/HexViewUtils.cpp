#include "hexview/HexViewUtils.h"

#include "hexview/StringUtils.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

namespace {

constexpr std::int64_t kScrollMax = kHexScrollMax;
// A line: "0x", 16 offset digits and three blanks, then "XX " per byte padded to the digits'
// width, then one character per byte.
constexpr int kDigitsAt = 2 + 16 + 3;
constexpr int kTextAt = kDigitsAt + kHexColumnWidth;

// Which hex view's handlers each widget carries. A view detaches only what is still its
// own, so an old view destroyed after the next one took over leaves the new handlers be.
// User-interface thread only, like everything else here.
std::map<const void*, const THexView*>& HandlerOwners() {
    static std::map<const void*, const THexView*> owners;
    return owners;
}

// Sets a flag for its lifetime, so that a failure on the way still clears it.
class TFlagSetter {
  public:
    explicit TFlagSetter(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagSetter() { FFlag = false; }
    TFlagSetter(const TFlagSetter&) = delete;
    TFlagSetter& operator=(const TFlagSetter&) = delete;

  private:
    bool& FFlag;
};

std::string OffsetToHexStr(std::int64_t offset) {
    const auto value = static_cast<std::uint64_t>(offset);
    std::string digits;
    for (int shift = 56; shift >= 0; shift -= 8) {
        digits += ByteToHexStr(static_cast<std::uint8_t>(value >> shift));
    }
    return digits;
}

std::string LinePrefix(std::int64_t lineStart) {
    return "0x" + OffsetToHexStr(lineStart) + "   ";
}

// 100,000 × offset ÷ size, truncated. Integer division truncates exactly, where a floating
// quotient of a large file can round up into the next position.
int ScrollPositionOf(std::int64_t offset, std::int64_t size) {
    if (size <= 0 || offset <= 0) {
        return 0;
    }
    if (offset >= size) {
        return kHexScrollMax;
    }
    if (offset <= std::numeric_limits<std::int64_t>::max() / kScrollMax) {
        return static_cast<int>(offset * kScrollMax / size);
    }
    // Only past some 92 TB does the product overflow.
    return static_cast<int>(static_cast<long double>(offset) * kScrollMax /
                            static_cast<long double>(size));
}

// size × position ÷ 100,000, truncated, split so that no size can overflow it.
std::int64_t OffsetOfScrollPosition(int position, std::int64_t size) {
    const std::int64_t p = std::clamp(position, 0, kHexScrollMax);
    return size / kScrollMax * p + size % kScrollMax * p / kScrollMax;
}

} // namespace

THexView::THexView() {
    GuardVoid("THexView.Create", [&] {
        FReadBuffer.assign(static_cast<std::size_t>(kHexBufferLines * kHexBytesPerLine), 0);
        FLineTexts.reserve(kHexBufferLines);
    });
}

THexView::~THexView() {
    Destroy();
}

void THexView::Destroy() {
    GuardVoid("THexView.Destroy", [&] {
        Detach();
        FFileStream.reset();
    });
}

void THexView::Detach() {
    auto& owners = HandlerOwners();
    if (FListBox) {
        const auto owner = owners.find(FListBox);
        if (owner != owners.end() && owner->second == this) {
            FListBox->SetKeyDownHandler({});
            FListBox->SetRangeHandler({});
            owners.erase(owner);
        }
        FListBox = nullptr;
    }
    if (FScrollBar) {
        const auto owner = owners.find(FScrollBar);
        if (owner != owners.end() && owner->second == this) {
            FScrollBar->SetScrollHandler({});
            owners.erase(owner);
        }
        FScrollBar = nullptr;
    }
}

TStatus THexView::Init(ILineList* listBox, IScrollBar* scrollBar) {
    return Guard("THexView.Init", kStatusFail, [&] {
        // Bound before: let go of those widgets first.
        Detach();
        FListBox = listBox;
        if (FListBox) {
            FListBox->SetKeyDownHandler([this](int key) { FListBoxKeyDown(key); });
            FListBox->SetRangeHandler([this](const TRangeInput& input) { RangeInput(input); });
            HandlerOwners()[FListBox] = this;
            FListBox->SetFont("Courier New", 10);
        }
        FScrollBar = scrollBar;
        if (FScrollBar) {
            FScrollBar->SetLargeChange(1);
            FScrollBar->SetPageSize(0);
            FScrollBar->SetMinimum(0);
            FScrollBar->SetMaximum(kHexScrollMax);
            FScrollBar->SetPosition(0);
            FScrollBar->SetScrollHandler(
                [this](ScrollCode code, int& position) { CustomScrollEvent(code, position); });
            HandlerOwners()[FScrollBar] = this;
        }
        return kStatusOk;
    });
}

TStatus THexView::OpenFile(const std::string& path) {
    return Guard("THexView.OpenFile", kStatusFail, [&] {
        CloseFile();
        FCurrentPos = 0;
        if (!FileExists(path)) {
            return kStatusOk;
        }
        auto stream = std::make_unique<FileStream>();
        if (!stream->Open(path)) {
            throw std::runtime_error("cannot open " + path);
        }
        FFileStream = std::move(stream);
        RefreshFileData(0);
        return kStatusOk;
    });
}

TStatus THexView::CloseFile() {
    return Guard("THexView.CloseFile", kStatusFail, [&] {
        FFileStream.reset();
        FMarkFirst = -1;
        FMarkLast = -1;
        FAnchorSet = false;
        FRangeShown = false;
        FPressed = -1;
        FShownLines = 0;
        if (FListBox) {
            FListBox->Clear();
        }
        return kStatusOk;
    });
}

int THexView::VisibleLineCount() const {
    const int inner = FListBox->InnerHeight();
    const int lineHeight = FListBox->LineHeight();
    if (inner <= 0 || lineHeight <= 0) {
        return 0;
    }
    // A list taller than the read buffer shows the buffer's worth of lines.
    const int capacity = static_cast<int>(FReadBuffer.size()) / kHexBytesPerLine;
    return std::min(inner / lineHeight, capacity);
}

void THexView::RefreshFileData(std::int64_t offset) {
    GuardVoid("THexView.RefreshFileData", [&] {
        if (!FFileStream || !FListBox) {
            return;
        }
        if (offset >= FFileStream->Size()) {
            return;
        }
        if (offset < 0) {
            offset = FCurrentPos;
        }
        const int lines = VisibleLineCount();
        const std::int64_t start = offset - offset % kHexBytesPerLine;
        const std::int32_t wanted = lines * kHexBytesPerLine;
        std::fill_n(FReadBuffer.begin(), wanted, std::uint8_t{0});
        FFileStream->Seek(start);
        const std::int32_t n = FFileStream->Read(FReadBuffer.data(), wanted);

        FLineTexts.clear();
        MemToStrLines2(FReadBuffer.data(), n, &FLineTexts);
        FListBox->Clear();
        const auto shown = std::min(FLineTexts.size(), static_cast<std::size_t>(lines));
        for (std::size_t e = 0; e < shown; ++e) {
            const auto lineStart = start + static_cast<std::int64_t>(e) * kHexBytesPerLine;
            FListBox->Append(LinePrefix(lineStart) + FLineTexts[e]);
        }
        FCurrentPos = offset;
        FShownStart = start;
        FShownLines = static_cast<std::int32_t>(shown);
        ApplyMarks();

        // During a drag the thumb stays where the user holds it.
        if (!FDragGuard && FScrollBar) {
            TFlagSetter guard(FDragGuard);
            FScrollBar->SetPosition(ScrollPositionFor(offset));
        }
    });
}

void THexView::ClearRange() {
    FAnchorSet = false;
    FPressed = -1;
    if (FRangeShown) {
        FRangeShown = false;
        FMarkFirst = -1;
        FMarkLast = -1;
        ApplyMarks();
    }
}

std::int64_t THexView::ByteAt(int line, int ch) const {
    // Over the offset column: the line's first byte.
    const int column = ch >= kTextAt ? ch - kTextAt : ch >= kDigitsAt ? (ch - kDigitsAt) / 3 : 0;
    const std::int64_t at = FShownStart +
                            std::int64_t{std::clamp(line, 0, FShownLines - 1)} * kHexBytesPerLine +
                            std::clamp(column, 0, kHexBytesPerLine - 1);
    return std::min(at, LastByteOffset());
}

void THexView::MoveCaret(std::int64_t caret) {
    FCaret = std::clamp<std::int64_t>(caret, 0, FFileStream->Size());
    // The byte the caret stands beside within the range: its last one when it grew forward.
    const std::int64_t byte = std::min(FCaret > FAnchor ? FCaret - 1 : FCaret, LastByteOffset());
    const std::int64_t line = byte - byte % kHexBytesPerLine;
    const std::int64_t shownEnd =
        FShownStart + static_cast<std::int64_t>(FShownLines) * kHexBytesPerLine;
    if (line < FShownStart) {
        RefreshFileData(line);
    } else if (line >= shownEnd) {
        const std::int64_t back =
            std::int64_t{std::max(VisibleLineCount() - 1, 0)} * kHexBytesPerLine;
        RefreshFileData(std::max<std::int64_t>(line - back, 0));
    }
    FRangeShown = true;
    FMarkFirst = FAnchor == FCaret ? -1 : RangeFirst();
    FMarkLast = FAnchor == FCaret ? -1 : RangeEnd() - 1;
    ApplyMarks();
    FListBox->SetSelectedIndex(static_cast<int>((line - FShownStart) / kHexBytesPerLine));
}

void THexView::RangeInput(const TRangeInput& input) {
    GuardVoid("THexView.RangeInput", [&] {
        if (!FFileStream || !FListBox || FShownLines <= 0) {
            return;
        }
        using TKind = TRangeInput::TKind;
        if (input.Kind == TKind::Key) {
            if (!FAnchorSet) {
                // From the selected line's first byte, or from the marked byte on it.
                const int selected = std::max(FListBox->SelectedIndex(), 0);
                const std::int64_t lineStart =
                    FShownStart + std::int64_t{selected} * kHexBytesPerLine;
                FAnchor = FMarkFirst >= lineStart && FMarkFirst < lineStart + kHexBytesPerLine
                              ? FMarkFirst
                              : lineStart;
                FCaret = FAnchor;
                FAnchorSet = true;
            }
            const std::int64_t page = std::int64_t{VisibleLineCount()} * kHexBytesPerLine;
            const std::int64_t steps[] = {-1, 1, -kHexBytesPerLine, kHexBytesPerLine, -page, page};
            const int keys[] = {Key::Left, Key::Right,  Key::Up,
                                Key::Down, Key::PageUp, Key::PageDown};
            for (std::size_t k = 0; k < std::size(keys); ++k) {
                if (input.Key == keys[k]) {
                    MoveCaret(FCaret + steps[k]);
                }
            }
            if (input.Key == Key::Home || input.Key == Key::End) {
                MoveCaret(input.Key == Key::Home ? 0 : FFileStream->Size());
            }
            FPressed = -1;
            return;
        }
        const std::int64_t at = ByteAt(input.Line, input.Char);
        if (input.Kind == TKind::Press && !(input.Shift && FAnchorSet)) {
            ClearRange();
            FPressed = at;
            FAnchor = at;
            FCaret = at;
            FAnchorSet = true;
            return;
        }
        if (FPressed < 0) {
            // A range the keys began: the mouse moves its caret.
            MoveCaret(at >= FAnchor ? at + 1 : at);
            return;
        }
        // Both the pressed byte and the one under the pointer belong to the range.
        FAnchor = at >= FPressed ? FPressed : FPressed + 1;
        MoveCaret(at >= FPressed ? at + 1 : at);
    });
}

bool THexView::RangeText(std::string& text, std::string& reason) {
    return Guard("THexView.RangeText", false, [&] {
        text.clear();
        if (!FFileStream || !HasRange()) {
            reason = "No bytes are selected.";
            return false;
        }
        const std::int64_t first = RangeFirst();
        const std::int64_t count = RangeEnd() - first;
        if (count > kHexCopyLimit) {
            reason = "The selection holds " + std::to_string(count) +
                     " bytes; Copy takes at most " + std::to_string(kHexCopyLimit) + ".";
            return false;
        }
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
        FFileStream->Seek(first);
        if (FFileStream->Read(bytes.data(), static_cast<std::int32_t>(count)) != count) {
            reason = "The file no longer holds the bytes selected.";
            return false;
        }
        text = HexRangeText(first, bytes.data(), static_cast<std::int32_t>(count));
        return true;
    });
}

std::string HexRangeText(std::int64_t first, const std::uint8_t* data, std::int32_t count) {
    std::string text;
    std::vector<std::string> parts;
    std::int32_t done = 0;
    while (done < count) {
        const std::int64_t at = first + done;
        const auto skip = static_cast<int>(at % kHexBytesPerLine);
        const std::int32_t n = std::min(kHexBytesPerLine - skip, count - done);
        parts.clear();
        MemToStrLines2(data + done, n, &parts);
        const std::string& part = parts.front();
        std::string line =
            LinePrefix(at - skip) + std::string(3 * static_cast<std::size_t>(skip), ' ');
        line += part.substr(0, 3 * static_cast<std::size_t>(n));
        line = PadStrRight(line, kTextAt) + std::string(static_cast<std::size_t>(skip), ' ') +
               part.substr(kHexColumnWidth);
        text += line + '\n';
        done += n;
    }
    return text;
}

void THexView::ShowByte(std::int64_t offset) {
    GuardVoid("THexView.ShowByte", [&] {
        if (!FFileStream || !FListBox || offset < 0 || offset >= FFileStream->Size()) {
            return;
        }
        ClearRange();
        FMarkFirst = offset;
        FMarkLast = offset;
        RefreshFileData(offset); // marks it too
        if (FShownLines > 0) {
            FListBox->SetSelectedIndex(0);
        }
    });
}

void THexView::MarkBytes(std::int64_t first, std::int64_t last) {
    GuardVoid("THexView.MarkBytes", [&] {
        FAnchorSet = false;
        FRangeShown = false;
        FPressed = -1;
        FMarkFirst = first;
        FMarkLast = first < 0 ? -1 : std::max(first, last);
        if (!FFileStream || !FListBox) {
            return;
        }
        const std::int64_t shownEnd =
            FShownStart + static_cast<std::int64_t>(FShownLines) * kHexBytesPerLine;
        if (first >= 0 && (first < FShownStart || first >= shownEnd)) {
            RefreshFileData(first); // marks them too
        } else {
            ApplyMarks();
        }
    });
}

void THexView::ApplyMarks() {
    std::vector<TLineMark> marks;
    for (std::int32_t line = 0; FMarkFirst >= 0 && line < FShownLines; ++line) {
        const std::int64_t lineStart = FShownStart + std::int64_t{line} * kHexBytesPerLine;
        const std::int64_t from = std::max(FMarkFirst, lineStart) - lineStart;
        const std::int64_t to = std::min(FMarkLast, lineStart + kHexBytesPerLine - 1) - lineStart;
        if (from > to) {
            continue;
        }
        const auto a = static_cast<int>(from);
        const auto b = static_cast<int>(to);
        marks.push_back({line, kDigitsAt + 3 * a, kDigitsAt + 3 * b + 1});
        marks.push_back({line, kTextAt + a, kTextAt + b});
    }
    FListBox->SetMarks(marks);
}

int THexView::ScrollPositionFor(std::int64_t offset) const {
    return ScrollPositionOf(offset, FFileStream->Size());
}

std::int64_t THexView::LastByteOffset() const {
    return std::max<std::int64_t>(FFileStream->Size() - 1, 0);
}

bool THexView::AtTop() const {
    return FListBox->SelectedIndex() == 0;
}

// An empty list with no selection counts as at the bottom.
bool THexView::AtBottom() const {
    return FListBox->SelectedIndex() == FListBox->Count() - 1;
}

void THexView::SelectLastLine() {
    FListBox->SetSelectedIndex(FListBox->Count() - 1);
}

void THexView::StepAndRefresh(TEdgeMove move) {
    const std::int64_t line = kHexBytesPerLine;
    const std::int64_t page = std::int64_t{VisibleLineCount()} * kHexBytesPerLine;
    switch (move) {
    case TEdgeMove::LineUp:
        FCurrentPos = std::max<std::int64_t>(FCurrentPos - line, 0);
        break;
    case TEdgeMove::LineDown:
        FCurrentPos = std::min(FCurrentPos + line, LastByteOffset());
        break;
    case TEdgeMove::PageUp:
        FCurrentPos = std::max<std::int64_t>(FCurrentPos - page, 0);
        break;
    case TEdgeMove::PageDown:
        FCurrentPos = std::min(FCurrentPos + page, LastByteOffset());
        break;
    }
    RefreshFileData(FCurrentPos);
}

void THexView::FListBoxKeyDown(int key) {
    GuardVoid("THexView.FListBoxKeyDown", [&] {
        if (!FFileStream || !FListBox) {
            return;
        }
        // A move without Shift (the arrows, pages, Home and End) ends the range selection.
        if (key >= Key::PageUp && key <= Key::Down) {
            ClearRange();
        }
        // The view moves only when the selection is at its edge already; the list's own
        // handling, which runs next, moves the selection within the lines shown.
        switch (key) {
        case Key::Up:
            if (AtTop()) {
                StepAndRefresh(TEdgeMove::LineUp);
            }
            break;
        case Key::Down:
            if (AtBottom()) {
                StepAndRefresh(TEdgeMove::LineDown);
                SelectLastLine();
            }
            break;
        case Key::PageUp:
            if (AtTop()) {
                StepAndRefresh(TEdgeMove::PageUp);
            }
            break;
        case Key::PageDown:
            if (AtBottom()) {
                StepAndRefresh(TEdgeMove::PageDown);
                SelectLastLine();
            }
            break;
        case Key::Home:
            FCurrentPos = 0;
            RefreshFileData(FCurrentPos);
            break;
        case Key::End:
            FCurrentPos = LastByteOffset();
            RefreshFileData(FCurrentPos);
            SelectLastLine();
            break;
        default:
            break;
        }
    });
}

int THexView::BarPosition() const noexcept {
    try {
        return FScrollBar ? FScrollBar->Position() : 0;
    } catch (...) {
        return 0;
    }
}

int THexView::Move(const char* routine, TEdgeMove move) {
    const auto position = Guard(routine, std::optional<int>(), [&]() -> std::optional<int> {
        if (!FFileStream || !FListBox) {
            return std::nullopt;
        }
        const bool up = move == TEdgeMove::LineUp || move == TEdgeMove::PageUp;
        if (up ? AtTop() : AtBottom()) {
            StepAndRefresh(move);
            if (up) {
                FListBox->SetSelectedIndex(0);
            } else {
                SelectLastLine();
            }
        } else {
            const int index = FListBox->SelectedIndex();
            const int last = FListBox->Count() - 1;
            switch (move) {
            case TEdgeMove::LineUp:
                FListBox->SetSelectedIndex(std::max(std::min(index - 1, last), 0));
                break;
            case TEdgeMove::LineDown:
                FListBox->SetSelectedIndex(std::max(std::min(index + 1, last), 0));
                break;
            case TEdgeMove::PageUp:
                FListBox->SetSelectedIndex(0);
                break;
            case TEdgeMove::PageDown:
                FListBox->SetSelectedIndex(last);
                break;
            }
        }
        const int result = ScrollPositionFor(FCurrentPos);
        FListBox->SetFocus();
        return result;
    });
    // After a failure the thumb stays where it is.
    return position ? *position : BarPosition();
}

int THexView::GoOneLineUp() {
    return Move("THexView.GoOneLineUp", TEdgeMove::LineUp);
}

int THexView::GoOneLineDown() {
    return Move("THexView.GoOneLineDown", TEdgeMove::LineDown);
}

int THexView::GoOnePageUp() {
    return Move("THexView.GoOnePageUp", TEdgeMove::PageUp);
}

int THexView::GoOnePageDown() {
    return Move("THexView.GoOnePageDown", TEdgeMove::PageDown);
}

int THexView::ScrollLines(int lines) {
    return Guard("THexView.ScrollLines", BarPosition(), [&] {
        if (!FFileStream || !FListBox) {
            return BarPosition();
        }
        const int selected = FListBox->SelectedIndex();
        const std::int64_t first = FCurrentPos - FCurrentPos % kHexBytesPerLine;
        const std::int64_t last = LastByteOffset();
        FCurrentPos = std::clamp<std::int64_t>(first + std::int64_t{lines} * kHexBytesPerLine, 0,
                                               last - last % kHexBytesPerLine);
        RefreshFileData(FCurrentPos);
        if (selected >= 0) {
            FListBox->SetSelectedIndex(std::min(selected, FListBox->Count() - 1));
        }
        return ScrollPositionFor(FCurrentPos);
    });
}

void THexView::CustomScrollEvent(ScrollCode code, int& position) {
    GuardVoid("THexView.CustomScrollEvent", [&] {
        if (!FFileStream || FDragGuard) {
            return;
        }
        switch (code) {
        case ScrollCode::LineUp:
            position = GoOneLineUp();
            break;
        case ScrollCode::LineDown:
            position = GoOneLineDown();
            break;
        case ScrollCode::PageUp:
            position = GoOnePageUp();
            break;
        case ScrollCode::PageDown:
            position = GoOnePageDown();
            break;
        case ScrollCode::ThumbDragged: {
            FCurrentPos =
                std::min(OffsetOfScrollPosition(position, FFileStream->Size()), LastByteOffset());
            {
                TFlagSetter guard(FDragGuard);
                RefreshFileData(FCurrentPos);
            }
            if (FListBox) {
                FListBox->SetFocus();
            }
            break;
        }
        case ScrollCode::ThumbReleased:
        case ScrollCode::Top:
        case ScrollCode::Bottom:
        case ScrollCode::EndScroll:
            break;
        }
    });
}
