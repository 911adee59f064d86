#pragma once

// THexView: pages a hex dump of a file through a line list, with a scroll bar as the
// position indicator. It reads one screen of lines per refresh from its own read-only
// handle, so a file of any size costs the same.

#include "core/Guard.h"
#include "stream/FileStream.h"
#include "toolkit/Toolkit.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr int kHexScrollMax = 100000;
// The most bytes Copy takes of a range: some 5 MB of text.
inline constexpr std::int64_t kHexCopyLimit = 1048576;
// Lines the read buffer holds; a taller list shows only this many.
inline constexpr int kHexBufferLines = 640;

class THexView {
  public:
    // All fields empty; the read buffer is allocated here.
    THexView();
    // Detaches from the list and the scroll bar and releases the file (Destroy).
    ~THexView();
    THexView(const THexView&) = delete;
    THexView& operator=(const THexView&) = delete;

    // Binds the list and the scroll bar and attaches this view's handlers to them.
    TStatus Init(ILineList* listBox, IScrollBar* scrollBar);
    // Closes the present file; opens path, if it exists, and shows it from offset 0. A
    // missing file is no failure: nothing is open then and the list is empty.
    TStatus OpenFile(const std::string& path);
    // Releases the file and empties the list.
    TStatus CloseFile();
    // Shows the file from the line that holds offset; a negative offset shows the current
    // one again, an offset at or past the end is ignored.
    void RefreshFileData(std::int64_t offset);

    // Shows the file from the line that holds offset, selects that line and marks the byte.
    void ShowByte(std::int64_t offset);

    // Marks bytes first to last (file offsets, inclusive) in the digits and the text
    // column, and shows them from their first line when the first is out of view; the
    // marks stay on those bytes while the view moves. A negative first clears them.
    void MarkBytes(std::int64_t first, std::int64_t last);

    // The list's key-down handler, called before the list's own key handling.
    void FListBoxKeyDown(int key);
    // The list's range handler: Shift with the keys extends the range as the key alone would
    // move; the mouse pressed and dragged selects the bytes from the one pressed to the one
    // under the pointer, both included.
    void RangeInput(const TRangeInput& input);
    // The range selected, as file offsets [first, end); none when it is empty.
    bool HasRange() const { return FRangeShown && FAnchor != FCaret; }
    std::int64_t RangeFirst() const { return std::min(FAnchor, FCaret); }
    std::int64_t RangeEnd() const { return std::max(FAnchor, FCaret); }
    // The range as the view's lines, its bytes read again from the file, bytes outside it
    // left blank on its first and last lines. False, with why, for a range over
    // kHexCopyLimit or one the file no longer holds.
    bool RangeText(std::string& text, std::string& reason);
    // The scroll bar's scroll handler.
    void CustomScrollEvent(ScrollCode code, int& position);

    // Move the selection, or the view when the selection is at the edge. Each returns the
    // scroll position for the new current offset (after a failure: the bar's position).
    int GoOneLineUp();
    int GoOneLineDown();
    int GoOnePageUp();
    int GoOnePageDown();
    // The wheel: the lines shown move by lines (up when negative), the selected line stays
    // where it is on the screen. Returns the bar's position for the new first line.
    int ScrollLines(int lines);

    // The offset last shown; it need not be a multiple of 16.
    std::int64_t CurrentPos() const { return FCurrentPos; }
    bool IsFileOpen() const { return FFileStream != nullptr; }

  private:
    enum class TEdgeMove { LineUp, LineDown, PageUp, PageDown };

    void Destroy();
    void Detach();
    int VisibleLineCount() const;
    bool AtTop() const;
    bool AtBottom() const;
    std::int64_t LastByteOffset() const;
    void SelectLastLine();
    // The key and movement rules share these: step the current offset by one line or one
    // page and show it.
    void StepAndRefresh(TEdgeMove move);
    int Move(const char* routine, TEdgeMove move);
    int ScrollPositionFor(std::int64_t offset) const;
    int BarPosition() const noexcept;

    // Tells the list which characters of the lines shown hold the marked bytes.
    void ApplyMarks();
    // Puts the caret at a place between bytes (0 to the file's size), brings its byte's line
    // into view, selects that line and marks the range.
    void MoveCaret(std::int64_t caret);
    void ClearRange();
    // The byte shown at character ch of line (of those shown).
    std::int64_t ByteAt(int line, int ch) const;

    ILineList* FListBox = nullptr;
    std::int64_t FMarkFirst = -1;
    std::int64_t FMarkLast = -1;
    // The range selection: places between bytes, the anchor where it began and the caret
    // where it ends; shown (as the marks) while FRangeShown. FPressed: the byte the mouse
    // was last pressed on, which a drag keeps in the range; -1 when the anchor came from
    // the keys.
    std::int64_t FAnchor = 0;
    std::int64_t FCaret = 0;
    std::int64_t FPressed = -1;
    bool FAnchorSet = false;
    bool FRangeShown = false;
    std::int64_t FShownStart = 0; // the first line's offset
    std::int32_t FShownLines = 0;
    IScrollBar* FScrollBar = nullptr;
    std::unique_ptr<FileStream> FFileStream;
    std::int64_t FCurrentPos = 0;
    // Set while this view moves the thumb itself or follows a drag: scroll notifications
    // are ignored then, and a refresh leaves the thumb alone.
    bool FDragGuard = false;
    std::vector<std::uint8_t> FReadBuffer;
    std::vector<std::string> FLineTexts;
};

// The bytes at first (count of them) as the hex view's lines, one a line of 16 bytes, the
// bytes before first left blank; each line ends after its last byte's character, with '\n'.
std::string HexRangeText(std::int64_t first, const std::uint8_t* data, std::int32_t count);
