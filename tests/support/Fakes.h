#pragma once

// Recording fakes of the toolkit interfaces: they keep what the logic does to them and
// let a test deliver the notifications a real widget would, in the same order.

#include "toolkit/Toolkit.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class FakeReportList : public IReportList {
  public:
    int Rows = 0;  // rows that fit in one page
    int Count = 0; // row count set by the logic
    int Selected = -1;
    int InvalidateCount = 0;
    int FocusCount = 0;
    std::vector<int> RowCountHistory;
    std::vector<int> Widths = std::vector<int>(5, 0);
    std::vector<bool> Visible = std::vector<bool>(5, true);
    // Answers SelectedCaption; a test sets it as the list's data callback would.
    std::function<std::string(int)> CaptionOf;

    void SetRowCount(int count) override {
        Count = count;
        RowCountHistory.push_back(count);
        if (Selected >= count) {
            Selected = -1;
        }
    }
    int RowCount() const override { return Count; }
    int RowsPerPage() const override { return Rows; }
    int SelectedIndex() const override { return Selected; }
    std::string SelectedCaption() const override {
        return (Selected >= 0 && CaptionOf) ? CaptionOf(Selected) : std::string();
    }
    void Select(int index) override { Selected = index; }
    void ClearSelection() override { Selected = -1; }
    void SetFocus() override { ++FocusCount; }
    void Invalidate() override { ++InvalidateCount; }
    int ColumnWidth(int column) const override { return Widths.at(column); }
    void SetColumnWidth(int column, int width) override { Widths.at(column) = width; }
    void SetColumnVisible(int column, bool visible) override { Visible.at(column) = visible; }
    TWindowProc WindowProc() const override { return Proc; }
    void SetWindowProc(TWindowProc proc) override { Proc = std::move(proc); }
    void SetAcceptDrops(bool accept) override { AcceptDrops = accept; }

    // The list's own message routine: it records what reaches it.
    std::vector<unsigned> OwnMessages;
    TWindowProc Proc = [this](TMessage& message) { OwnMessages.push_back(message.Msg); };
    bool AcceptDrops = false;
    // A key press as the list delivers it: key-down first, then the list's own move of
    // the selection within its rows, then key-up.
    KeyDownHandler OnKeyDown;
    KeyDownHandler OnKeyUp;
    void PressKey(int key) {
        if (OnKeyDown) {
            OnKeyDown(key);
        }
        if (Count > 0) {
            const int last = Count - 1;
            switch (key) {
            case Key::Up:
                Selected = std::max(Selected - 1, 0);
                break;
            case Key::Down:
                Selected = std::min(Selected + 1, last);
                break;
            case Key::PageUp:
            case Key::Home:
                Selected = 0;
                break;
            case Key::PageDown:
            case Key::End:
                Selected = last;
                break;
            default:
                break;
            }
        }
        if (OnKeyUp) {
            OnKeyUp(key);
        }
    }
    // A message as the window system sends it: through whatever routine is in place.
    void Send(TMessage& message) {
        if (Proc) {
            Proc(message);
        }
    }
};

class FakeLineList : public ILineList {
  public:
    std::vector<std::string> Lines;
    std::vector<TLineMark> Marks; // the last marks set
    int Selected = -1;
    int Inner = 0;      // inner height in pixels
    int ItemHeight = 1; // height of one line in pixels
    std::string FontFamily;
    int FontSize = 0;
    int FocusCount = 0;
    KeyDownHandler OnKeyDown;

    // Shows exactly n lines.
    void SetVisibleLines(int n) {
        ItemHeight = 16;
        Inner = n * 16;
    }
    // A key press as a list box delivers it: the handler first, then the list's own move.
    void PressKey(int key) {
        if (OnKeyDown) {
            OnKeyDown(key);
        }
        const int count = static_cast<int>(Lines.size());
        if (count == 0) {
            return;
        }
        const int page = std::max(1, ItemHeight > 0 ? Inner / ItemHeight : 1);
        int s = Selected;
        switch (key) {
        case Key::Up:
            s = s < 0 ? 0 : s - 1;
            break;
        case Key::Down:
            s = s + 1;
            break;
        case Key::PageUp:
            s = s < 0 ? 0 : s - (page - 1);
            break;
        case Key::PageDown:
            s = s < 0 ? page - 1 : s + (page - 1);
            break;
        case Key::Home:
            s = 0;
            break;
        case Key::End:
            s = count - 1;
            break;
        default:
            return;
        }
        Selected = std::clamp(s, 0, count - 1);
    }

    void Clear() override {
        Lines.clear();
        Selected = -1;
    }
    void Append(const std::string& text) override { Lines.push_back(text); }
    int Count() const override { return static_cast<int>(Lines.size()); }
    std::string Line(int index) const override { return Lines.at(static_cast<std::size_t>(index)); }
    void SetLine(int index, const std::string& text) override {
        Lines.at(static_cast<std::size_t>(index)) = text;
    }
    int SelectedIndex() const override { return Selected; }
    void SetSelectedIndex(int index) override {
        Selected = (index >= 0 && index < Count()) ? index : -1;
    }
    int InnerHeight() const override { return Inner; }
    int LineHeight() const override { return ItemHeight; }
    void SetFont(const std::string& family, int pointSize) override {
        FontFamily = family;
        FontSize = pointSize;
    }
    void SetFocus() override { ++FocusCount; }
    void SetKeyDownHandler(KeyDownHandler handler) override { OnKeyDown = std::move(handler); }
    void SetMarks(const std::vector<TLineMark>& marks) override { Marks = marks; }
    TRangeHandler OnRange;
    void SetRangeHandler(TRangeHandler handler) override { OnRange = std::move(handler); }
};

class FakeScrollBar : public IScrollBar {
  public:
    int Pos = 0;
    int Min = 0;
    int Max = 100;
    int PageSize = 0;
    int SmallChange = 1;
    int LargeChange = 1;
    std::vector<int> PositionHistory;
    ScrollHandler OnScroll;
    NotifyHandler OnMouseDown;

    // A scroll notification as the bar delivers it; the bar then takes the position the
    // handler left.
    void Scroll(ScrollCode code, int position) {
        if (OnScroll) {
            OnScroll(code, position);
        }
        SetPosition(position);
    }
    // A press that moved the bar to position, reported once the press has ended.
    void PressTo(int position) {
        SetPosition(position);
        if (OnMouseDown) {
            OnMouseDown();
        }
    }

    int Position() const override { return Pos; }
    void SetPosition(int position) override {
        Pos = std::clamp(position, Min, std::max(Min, Max));
        PositionHistory.push_back(Pos);
    }
    int Minimum() const override { return Min; }
    void SetMinimum(int minimum) override { Min = minimum; }
    int Maximum() const override { return Max; }
    void SetMaximum(int maximum) override { Max = maximum; }
    void SetPageSize(int pageSize) override { PageSize = pageSize; }
    void SetSmallChange(int change) override { SmallChange = change; }
    void SetLargeChange(int change) override { LargeChange = change; }
    void SetScrollHandler(ScrollHandler handler) override { OnScroll = std::move(handler); }
    void SetMouseDownHandler(NotifyHandler handler) override { OnMouseDown = std::move(handler); }
};

class FakeCursor : public ICursor {
  public:
    int BusyCount = 0;
    int DefaultCount = 0;
    bool Busy = false;
    void SetBusy() override {
        ++BusyCount;
        Busy = true;
    }
    void SetDefault() override {
        ++DefaultCount;
        Busy = false;
    }
};

class FakeMainWindow : public IMainWindow {
  public:
    std::string Text;
    int L = 111, T = 77, W = 958, H = 653;
    TWindowState WindowState = TWindowState::Normal;
    int Panel2 = 700;
    int CloseCount = 0;
    std::string Caption() const override { return Text; }
    void SetCaption(const std::string& caption) override { Text = caption; }
    int Left() const override { return L; }
    int Top() const override { return T; }
    int Width() const override { return W; }
    int Height() const override { return H; }
    void SetBounds(int left, int top, int width, int height) override {
        L = left;
        T = top;
        W = width;
        H = height;
    }
    TWindowState State() const override { return WindowState; }
    void SetState(TWindowState state) override { WindowState = state; }
    int Panel2Width() const override { return Panel2; }
    void SetPanel2Width(int width) override { Panel2 = width; }
    void Close() override { ++CloseCount; }
    int HexPane = kDesignHexPaneHeight;
    int HexPaneHeight() const override { return HexPane; }
    void SetHexPaneHeight(int height) override { HexPane = height; }
};

class FakeMenuCheck : public IMenuCheck {
  public:
    bool Mark = false;
    bool Checked() const override { return Mark; }
    void SetChecked(bool checked) override { Mark = checked; }
};

class FakeTimer : public ITimer {
  public:
    bool On = false;
    bool Enabled() const override { return On; }
    void SetEnabled(bool enabled) override { On = enabled; }
};

class FakeDialogs : public IDialogs {
  public:
    std::optional<std::string> ChosenFile; // what the open dialog answers
    bool ConfirmAnswer = false;
    std::vector<std::string> Messages;
    std::vector<std::pair<std::string, std::string>> Informations;
    std::vector<std::pair<std::string, std::string>> Confirmations;
    std::vector<std::pair<std::string, std::string>> Warnings;
    TOpenFileRequest LastRequest; // what the open dialog was last asked to start with
    int OpenCount = 0;
    std::optional<std::string> OpenFileName() override {
        ++OpenCount;
        return ChosenFile;
    }
    std::optional<std::string> OpenFileNameFor(const TOpenFileRequest& request) override {
        LastRequest = request;
        return OpenFileName();
    }
    void ShowWarning(const std::string& title, const std::string& text) override {
        Warnings.emplace_back(title, text);
    }
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    void ShowInformation(const std::string& title, const std::string& text) override {
        Informations.emplace_back(title, text);
    }
    bool Confirm(const std::string& title, const std::string& text) override {
        Confirmations.emplace_back(title, text);
        return ConfirmAnswer;
    }
    // What the text and choice dialogs answer, and what they were asked.
    std::optional<std::string> TypedText;
    std::optional<std::string> ChosenItem;
    std::vector<std::string> Asked;
    std::vector<std::string> ChoiceItems;
    std::optional<std::string> AskText(const std::string& title, const std::string&,
                                       const std::string&) override {
        Asked.push_back(title);
        return TypedText;
    }
    std::optional<std::string> ChooseItem(const std::string& title, const std::string&,
                                          const std::vector<std::string>& items, int) override {
        Asked.push_back(title);
        ChoiceItems = items;
        return ChosenItem;
    }
};

class FakeStatusBar : public IStatusBar {
  public:
    std::map<TStatusField, std::string> Texts;
    void SetText(TStatusField field, const std::string& text) override { Texts[field] = text; }
    std::string Text(TStatusField field) const override {
        const auto found = Texts.find(field);
        return found != Texts.end() ? found->second : std::string();
    }
};

class FakeSummaryView : public ISummaryView {
  public:
    bool Shown = false;
    std::vector<std::string> Figures;
    TSummaryPlot Plot;
    std::int64_t PageFirst = -1;
    std::int64_t PageEnd = -1;
    bool Running = false;
    int Permille = 0;
    NotifyHandler OnCancel;
    std::function<void(std::int64_t)> OnClick;
    void SetPaneVisible(bool visible) override { Shown = visible; }
    bool PaneVisible() const override { return Shown; }
    void SetFigures(const std::vector<std::string>& lines) override { Figures = lines; }
    void SetPlot(const TSummaryPlot& plot) override { Plot = plot; }
    void SetPage(std::int64_t first, std::int64_t end) override {
        PageFirst = first;
        PageEnd = end;
    }
    void SetProgress(bool running, int permille, const std::string&) override {
        Running = running;
        Permille = permille;
    }
    void SetCancelHandler(NotifyHandler handler) override { OnCancel = std::move(handler); }
    void SetClickHandler(std::function<void(std::int64_t)> handler) override {
        OnClick = std::move(handler);
    }
    std::function<std::string(std::int64_t, std::int64_t)> UnitText;
    void
    SetUnitTextHandler(std::function<std::string(std::int64_t, std::int64_t)> handler) override {
        UnitText = std::move(handler);
    }
};

class FakeProgressBar : public IProgressBar {
  public:
    bool Shown = false;
    std::string Caption;
    int Permille = 0;
    std::string Text;
    int Updates = 0;
    NotifyHandler OnCancel;
    void Show(const std::string& caption) override {
        Shown = true;
        Caption = caption;
    }
    void SetProgress(int permille, const std::string& text) override {
        Permille = permille;
        Text = text;
        ++Updates;
    }
    void Hide() override { Shown = false; }
    bool Visible() const override { return Shown; }
    void SetCancelHandler(NotifyHandler handler) override { OnCancel = std::move(handler); }
    // The Cancel button, or Esc.
    void PressCancel() {
        if (OnCancel) {
            OnCancel();
        }
    }
};

class FakeDroppedFiles : public IDroppedFiles {
  public:
    explicit FakeDroppedFiles(std::vector<std::string> paths) : Paths(std::move(paths)) {}
    std::vector<std::string> Paths;
    int FinishCount = 0;
    int Count() override { return static_cast<int>(Paths.size()); }
    std::string Path(int index) override { return Paths.at(static_cast<std::size_t>(index)); }
    void Finish() override { ++FinishCount; }
};

// A settings store in memory: keys by path, each a map of 32-bit values and one of texts.
class FakeSettingsStore : public ISettingsStore {
  public:
    std::map<std::string, std::map<std::string, std::int32_t>> Keys;
    std::map<std::string, std::map<std::string, std::string>> Texts;
    // A write of this value name throws, as a failing registry write would.
    std::string FailingWrite;
    std::vector<std::string> Writes;
    // Opening a key throws, as a failing registry access would.
    bool Broken = false;

    std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool create) override {
        if (Broken) {
            throw std::runtime_error("registry access failed");
        }
        if (!create && Keys.count(path) == 0) {
            return nullptr;
        }
        return std::make_unique<Key>(*this, Keys[path], Texts[path]);
    }

  private:
    class Key : public ISettingsKey {
      public:
        Key(FakeSettingsStore& store, std::map<std::string, std::int32_t>& values,
            std::map<std::string, std::string>& texts)
            : FStore(store), FValues(values), FTexts(texts) {}
        std::optional<std::string> ReadString(const std::string& name) override {
            const auto it = FTexts.find(name);
            return it == FTexts.end() ? std::nullopt : std::optional<std::string>(it->second);
        }
        void WriteString(const std::string& name, const std::string& value) override {
            FStore.Writes.push_back(name);
            FTexts[name] = value;
        }
        std::optional<std::int32_t> ReadDword(const std::string& name) override {
            const auto it = FValues.find(name);
            return it == FValues.end() ? std::nullopt : std::optional<std::int32_t>(it->second);
        }
        void WriteDword(const std::string& name, std::int32_t value) override {
            if (name == FStore.FailingWrite) {
                throw std::runtime_error("write failed");
            }
            FStore.Writes.push_back(name);
            FValues[name] = value;
        }

      private:
        FakeSettingsStore& FStore;
        std::map<std::string, std::int32_t>& FValues;
        std::map<std::string, std::string>& FTexts;
    };
};

class FakeBrowser : public IBrowser {
  public:
    std::vector<std::string> Opened;
    void OpenUrl(const std::string& url) override { Opened.push_back(url); }
};

class FakeMonitors : public IMonitors {
  public:
    std::vector<TScreenRect> Areas;
    std::vector<TScreenRect> WorkAreas() const override { return Areas; }
};

class FakeClipboard : public IClipboard {
  public:
    std::vector<std::string> Texts; // every text set, the last one last
    void SetText(const std::string& text) override { Texts.push_back(text); }
};

class FakeTreeSelection : public ITreeSelection {
  public:
    std::vector<TBranchLine> Branch;
    std::vector<TBranchLine> SelectedBranch() const override { return Branch; }
};

class FakeRecentFilesMenu : public IRecentFilesMenu {
  public:
    std::vector<std::string> Items;
    void SetRecentFiles(const std::vector<std::string>& paths) override { Items = paths; }
};
