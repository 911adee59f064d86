#pragma once

// THexView: pages a hex dump of a file through a line list, with a scroll bar as the
// position indicator. It reads one screen of lines per refresh from its own read-only
// handle, so a file of any size costs the same.

#include "core/Guard.h"
#include "stream/FileStream.h"
#include "toolkit/Toolkit.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr int kHexScrollMax = 100000;
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

    ILineList* FListBox = nullptr;
    std::int64_t FMarkFirst = -1;
    std::int64_t FMarkLast = -1;
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
