// TForm1: what each unit is at a glance (the Info column), going to an offset, and finding
// the next unit of a kind with a search that runs off the user-interface thread.

#include "app/FindWorker.h"
#include "app/Need.h"
#include "app/Unit1.h"
#include "core/Guard.h"
#include "model/SetStore.h"

#include <array>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr const char* kGoToTitle = "Go to Offset";
constexpr const char* kGoToLabel = "Offset (decimal, or hexadecimal after 0x):";
constexpr const char* kFindTitle = "Find";
constexpr const char* kFindLabel = "Unit to find (or type a nal_unit_type, or sei:N):";

// The kinds offered by Find, each its argument first, as quillet-dump --find takes it.
std::vector<std::string> FindItems() {
    std::vector<std::string> items = {"idr  IDR picture",
                                      "i  I picture",
                                      "p  P picture",
                                      "b  B picture",
                                      "sps  SPS",
                                      "pps  PPS",
                                      "sei  SEI",
                                      "sei:0  SEI with buffering_period",
                                      "sei:1  SEI with pic_timing",
                                      "sei:5  SEI with user_data_unregistered",
                                      "sei:6  SEI with recovery_point"};
    for (std::uint8_t type = 0; type < 32; ++type) {
        items.push_back(std::to_string(type) + "  " + std::string(NalTypeName(type)));
    }
    return items;
}

// The kind a Find item or a typed text stands for: its first word.
std::optional<TFindKind> KindOfItem(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t end = text.find(' ', begin);
    return ParseFindKind(text.substr(begin, end == std::string::npos ? end : end - begin));
}

// Where a search has come, in thousandths of the way it has to go.
int Permille(const TFindWorker& find) {
    const std::int64_t reached = find.Reached();
    const std::int64_t span = find.Forward() ? find.FileSize() - find.From() : find.From() + 1;
    const std::int64_t done = find.Forward() ? reached - find.From() : find.From() + 1 - reached;
    if (span <= 0) {
        return 1000;
    }
    return static_cast<int>(std::clamp<std::int64_t>(done * 1000 / span, 0, 1000));
}

} // namespace

// --- The Info column ---------------------------------------------------------------------

void TForm1::ForgetInfo() {
    for (TInfoEntry& entry : FInfo) {
        entry.Known = false;
    }
}

const std::string& TForm1::InfoText(std::int32_t index) {
    TInfoEntry& entry = FInfo[static_cast<std::size_t>(index)];
    const TNalUnitLocator& locator = Locators[static_cast<std::size_t>(index)];
    // The last row's unit may go on past what the step read.
    const bool open = LastLenOpen && index == LocatorCount - 1;
    const std::int64_t size = Stream ? Stream->Size() : 0;
    const std::int64_t length = open ? size - locator.Offset : locator.Len;
    if (entry.Known && entry.Offset == locator.Offset && entry.Len == length) {
        return entry.Text;
    }
    entry.Known = true;
    entry.Offset = locator.Offset;
    entry.Len = length;
    entry.Text.clear();
    if (!Stream) {
        return entry.Text;
    }
    TSetStore& sets = SetsAt(locator.Offset);
    entry.Text = FUnitInfo.Read(*Stream, locator.Offset, length, size, &sets);
    return entry.Text;
}

void TForm1::ApplyInfoColumn() {
    if (Widgets.UnitSummaryColumn1) {
        Widgets.UnitSummaryColumn1->SetChecked(ShowInfoColumn);
    }
    if (Widgets.ListView1) {
        Widgets.ListView1->SetColumnVisible(kInfoColumn, ShowInfoColumn);
        Widgets.ListView1->Invalidate();
    }
}

void TForm1::UnitSummaryColumn1Click() {
    GuardVoid("TForm1.UnitSummaryColumn1Click", [&] {
        ShowInfoColumn = !ShowInfoColumn;
        ApplyInfoColumn();
    });
}

// --- Go to offset --------------------------------------------------------------------------

void TForm1::SetNote(const std::string& text) {
    NavigationNote = text;
    RefreshStatus();
}

bool TForm1::FindUnitHolding(std::int64_t offset, std::int64_t& found) {
    // Each way has a step's bound of its own.
    TUnitCursor back = NewCursor();
    if (back.Previous(offset, 1, &found) == 1) {
        return true;
    }
    TUnitCursor forward = NewCursor();
    return forward.NextStart(offset, found);
}

void TForm1::ShowUnitAt(std::int64_t offset) {
    RunStep([&] {
        TUnitCursor cursor = NewCursor();
        SetRows(cursor, &offset, 1, -1);
        cursor.SetBudget(kNavigationReadBound);
        FillPage(cursor, 1);
        return true;
    });
    IReportList& list = Need(Widgets.ListView1);
    list.Invalidate();
    SelectAfterStep(true);
    RefreshStatus();
}

void TForm1::GoToOffset1Click() {
    GuardVoid("TForm1.GoToOffset1Click", [&] {
        if (!Stream || !Widgets.Dialogs) {
            return;
        }
        const std::optional<std::string> text =
            Widgets.Dialogs->AskText(kGoToTitle, kGoToLabel, "");
        if (!text) {
            return;
        }
        // Blanks around the number, as a paste brings them, are no part of it.
        const std::size_t first = text->find_first_not_of(" \t");
        const std::size_t last = text->find_last_not_of(" \t");
        const std::string typed =
            first == std::string::npos ? std::string() : text->substr(first, last - first + 1);
        const std::optional<std::int64_t> offset = ParseOffsetText(typed);
        if (!offset) {
            Widgets.Dialogs->ShowMessage(
                "Not an offset: \"" + *text +
                "\". Type a decimal number, or 0x and hexadecimal digits.");
            return;
        }
        GoToOffset(*offset);
    });
}

bool TForm1::GoToOffset(std::int64_t offset) {
    return Guard("TForm1.GoToOffset", false, [&] {
        if (!Stream || !Widgets.ListView1) {
            return false;
        }
        const std::int64_t size = Stream->Size();
        if (offset < 0 || offset >= size) {
            if (Widgets.Dialogs) {
                Widgets.Dialogs->ShowMessage("Offset " + NalOffsetText(offset) +
                                             " is past the end of the file (" +
                                             std::to_string(size) + " bytes).");
            }
            return false;
        }
        const TBusyCursor busy(Widgets.Screen);
        std::int64_t found = 0;
        if (!FindUnitHolding(offset, found)) {
            SetNote("No NAL unit begins within " + std::to_string(kNavigationReadBound >> 20) +
                    " MiB of " + NalOffsetText(offset));
            return false;
        }
        FSoughtByte = offset;
        FSoughtUnit = found;
        ShowUnitAt(found);
        return true;
    });
}

// --- Find ----------------------------------------------------------------------------------

void TForm1::Find1Click() {
    GuardVoid("TForm1.Find1Click", [&] {
        if (!Stream || !Widgets.Dialogs || FFind) {
            return;
        }
        const std::vector<std::string> items = FindItems();
        int current = 0;
        for (std::size_t i = 0; FindKind && i < items.size(); ++i) {
            if (KindOfItem(items[i]) == FindKind) {
                current = static_cast<int>(i);
            }
        }
        const std::optional<std::string> chosen =
            Widgets.Dialogs->ChooseItem(kFindTitle, kFindLabel, items, current);
        if (!chosen) {
            return;
        }
        const std::optional<TFindKind> kind = KindOfItem(*chosen);
        if (!kind) {
            Widgets.Dialogs->ShowMessage("Not a kind of unit: \"" + *chosen + "\".");
            return;
        }
        FindKind = kind;
        FindFrom(true);
    });
}

void TForm1::FindNext1Click() {
    GuardVoid("TForm1.FindNext1Click", [&] {
        if (!FindKind) {
            Find1Click();
            return;
        }
        FindFrom(true);
    });
}

void TForm1::FindPrevious1Click() {
    GuardVoid("TForm1.FindPrevious1Click", [&] {
        if (!FindKind) {
            Find1Click();
            return;
        }
        FindFrom(false);
    });
}

void TForm1::FindFrom(bool forward) {
    if (!Stream || !Widgets.ListView1 || !FindKind || FFind) {
        return;
    }
    // From the selected row, else from the page's first row (itself a candidate then),
    // else from where the page was looked for.
    const int selected = Widgets.ListView1->SelectedIndex();
    const bool onRow = selected >= 0 && selected < LocatorCount;
    const std::int64_t at = onRow          ? Locators[static_cast<std::size_t>(selected)].Offset
                            : LocatorCount ? Locators[0].Offset
                                           : WindowPosition;
    const std::int64_t from = forward ? (onRow ? at + 1 : at) : at - 1;
    FFindReference = at;
    if (from < 0) {
        SetNote("No " + FindKindText(*FindKind) + " before " + NalOffsetText(at));
        return;
    }
    FFind = std::make_unique<TFindWorker>(FileName, *FindKind, from, forward);
    SetNote("");
    if (Widgets.FindProgress) {
        Widgets.FindProgress->SetCancelHandler([this] { CancelFind(); });
        Widgets.FindProgress->Show("Searching for " + FindKindText(*FindKind));
        Widgets.FindProgress->SetProgress(0, NalOffsetText(from));
    }
    if (Widgets.tmFind) {
        Widgets.tmFind->SetEnabled(true);
    }
}

void TForm1::CancelFind() {
    GuardVoid("TForm1.CancelFind", [&] {
        if (FFind) {
            FFind->Cancel();
        }
    });
}

void TForm1::EndFind() {
    if (Widgets.tmFind) {
        Widgets.tmFind->SetEnabled(false);
    }
    if (Widgets.FindProgress) {
        Widgets.FindProgress->Hide();
        Widgets.FindProgress->SetCancelHandler({});
    }
    FFind.reset();
}

void TForm1::tmFindTimer() {
    GuardVoid("TForm1.tmFindTimer", [&] {
        if (!FFind) {
            EndFind();
            return;
        }
        if (!FFind->Done()) {
            if (Widgets.FindProgress) {
                Widgets.FindProgress->SetProgress(Permille(*FFind),
                                                  NalOffsetText(FFind->Reached()));
            }
            return;
        }
        const std::unique_ptr<TFindWorker> find = std::move(FFind);
        EndFind();
        const std::string what = FindKindText(find->Kind());
        // Whatever the thread had found, the user's cancel stands.
        if (find->Cancelled()) {
            SetNote("Search for " + what + " cancelled at " + NalOffsetText(find->Reached()));
        } else if (find->Found()) {
            ShowUnitAt(*find->Found());
            SetNote("");
        } else if (!find->Failure().empty()) {
            SetNote("Search for " + what + " failed: " + find->Failure());
        } else {
            SetNote(std::string("No ") + what + (find->Forward() ? " after " : " before ") +
                    NalOffsetText(FFindReference));
        }
    });
}
