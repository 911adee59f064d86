#pragma once

// Checks what the NAL list shows after each step of the user against an independent list
// of the file's units: rows are consecutive units with their true lengths, and each step
// moves the page where the user asked it to (or says why it did not).

#include "app/Unit1.h"
#include "support/FakeWindow.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

struct TOracleUnit {
    std::int64_t Offset = 0;
    std::int64_t Len = 0;
};

// Every unit of the file by a byte-by-byte walk that counts zeros: a 01 byte after two or
// more zeros ends a start code, which begins three bytes back after three or more zeros,
// two bytes back otherwise. Holes of sparse files are zeros, and are counted, not read.
inline std::vector<TOracleUnit> OracleUnitsOfFile(const std::string& path) {
    std::vector<std::int64_t> starts;
    std::int64_t size = 0;
    std::int64_t zeros = 0;
    std::vector<char> block(1 << 20);
#if defined(__linux__)
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return {};
    }
    size = ::lseek(fd, 0, SEEK_END);
    std::int64_t at = 0;
    while (at < size) {
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) {
            data = size;
        }
        if (data > at) {
            zeros += data - at; // a hole
            at = data;
            continue;
        }
        off_t hole = ::lseek(fd, at, SEEK_HOLE);
        if (hole < 0) {
            hole = size;
        }
        const std::int64_t want =
            std::min<std::int64_t>(hole - at, static_cast<std::int64_t>(block.size()));
        const ssize_t got = ::pread(fd, block.data(), static_cast<std::size_t>(want), at);
        if (got <= 0) {
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            const auto b = static_cast<unsigned char>(block[static_cast<std::size_t>(i)]);
            if (b == 1 && zeros >= 2) {
                starts.push_back(at + i - (zeros >= 3 ? 3 : 2));
            }
            zeros = b == 0 ? zeros + 1 : 0;
        }
        at += got;
    }
    ::close(fd);
#else
    std::ifstream in(path, std::ios::binary);
    std::int64_t at = 0;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        const std::streamsize got = in.gcount();
        for (std::streamsize i = 0; i < got; ++i) {
            const auto b = static_cast<unsigned char>(block[static_cast<std::size_t>(i)]);
            if (b == 1 && zeros >= 2) {
                starts.push_back(at + i - (zeros >= 3 ? 3 : 2));
            }
            zeros = b == 0 ? zeros + 1 : 0;
        }
        at += got;
    }
    size = at;
#endif
    std::vector<TOracleUnit> units;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::int64_t end = i + 1 < starts.size() ? starts[i + 1] : size;
        units.push_back({starts[i], end - starts[i]});
    }
    return units;
}

enum class TUserStep {
    Up,   // Up with the top row selected
    Down, // Down with the last row selected
    PageUp,
    PageDown,
    Home,
    End,
    BarUp, // the bar's arrows and its page areas
    BarDown,
    BarPageUp,
    BarPageDown,
    Thumb,   // the thumb dragged to a position
    WheelUp, // one notch of the wheel over the list
    WheelDown,
    Resize, // the list grows or shrinks
};

inline const char* UserStepName(TUserStep step) {
    static const char* const names[] = {"Up",          "Down",          "Page Up", "Page Down",
                                        "Home",        "End",           "bar up",  "bar down",
                                        "bar page up", "bar page down", "thumb",   "wheel up",
                                        "wheel down",  "resize"};
    return names[static_cast<int>(step)];
}

class TNavigationOracle {
  public:
    // fail receives what broke; the checks go on, so a test reports every fault at once.
    TNavigationOracle(std::vector<TOracleUnit> units, std::function<void(const std::string&)> fail)
        : FUnits(std::move(units)), FFail(std::move(fail)) {}

    // Takes one step as the user would, with arg choosing a thumb position or a list
    // height, and checks the page it leads to.
    void Step(TFakeWindow& w, TUserStep step, std::uint32_t arg) {
        const TPage before = Page(w);
        FHistory = FWhat.substr(0, FWhat.find(" from")) + (FHistory.empty() ? "" : ", ") +
                   FHistory.substr(0, 60);
        FWhat = std::string(UserStepName(step)) + " from " + Describe(before);
        std::int64_t thumbAt = -1;
        switch (step) {
        case TUserStep::Up:
            w.list.Selected = w.list.Count > 0 ? 0 : -1;
            w.list.PressKey(Key::Up);
            break;
        case TUserStep::Down:
            w.list.Selected = w.list.Count - 1;
            w.list.PressKey(Key::Down);
            break;
        case TUserStep::PageUp:
        case TUserStep::PageDown:
        case TUserStep::Home:
        case TUserStep::End:
            if (w.list.Count > 0 && w.list.Selected < 0) {
                w.list.Selected = 0;
            }
            w.list.PressKey(step == TUserStep::PageUp     ? Key::PageUp
                            : step == TUserStep::PageDown ? Key::PageDown
                            : step == TUserStep::Home     ? Key::Home
                                                          : Key::End);
            break;
        case TUserStep::BarUp:
        case TUserStep::BarDown:
        case TUserStep::BarPageUp:
        case TUserStep::BarPageDown: {
            const int by = step == TUserStep::BarUp       ? -1
                           : step == TUserStep::BarDown   ? 1
                           : step == TUserStep::BarPageUp ? -10
                                                          : 10;
            const int to =
                std::clamp(w.bar1.Pos + by, w.bar1.Min, std::max(w.bar1.Min, w.bar1.Max));
            // At the bar's end the press moves it less: what it then does follows from how
            // far it moved.
            switch (to - w.form->LastScrollPosition) {
            case -1:
                step = TUserStep::BarUp;
                break;
            case 1:
                step = TUserStep::BarDown;
                break;
            case -10:
                step = TUserStep::BarPageUp;
                break;
            case 10:
                step = TUserStep::BarPageDown;
                break;
            default:
                step = TUserStep::Thumb;
                thumbAt = static_cast<std::int64_t>(to) * w.form->ScrollUnit;
                break;
            }
            w.bar1.PressTo(w.bar1.Pos + by);
            break;
        }
        case TUserStep::Thumb: {
            const int position =
                static_cast<int>(static_cast<std::int64_t>(w.bar1.Max) * (arg % 1001) / 1000);
            // A press that lands one or ten positions off is a step, not a thumb move.
            const std::int64_t off =
                static_cast<std::int64_t>(w.form->LastScrollPosition) - position;
            if (off == 1 || off == -1 || off == 10 || off == -10) {
                return;
            }
            thumbAt = static_cast<std::int64_t>(std::max(position, 0)) * w.form->ScrollUnit;
            w.bar1.PressTo(position);
            break;
        }
        case TUserStep::WheelUp:
            w.form->ListView1MouseWheel(1);
            break;
        case TUserStep::WheelDown:
            w.form->ListView1MouseWheel(-1);
            break;
        case TUserStep::Resize:
            w.list.Rows = static_cast<int>(arg % 24);
            w.form->FormResize();
            break;
        }
        CheckStep(w, step, before, Page(w), thumbAt);
    }

  private:
    struct TPage {
        int First = -1; // index of the first row's unit; -1 for an empty page
        int Rows = 0;
        int Capacity = 0;
        bool Open = false; // the last row's length is a lower bound
        std::int64_t Position = 0;
    };

    void Fail(const std::string& what) { FFail(FWhat + ": " + what + " (after " + FHistory + ")"); }

    int IndexOf(std::int64_t offset) const {
        const auto it =
            std::lower_bound(FUnits.begin(), FUnits.end(), offset,
                             [](const TOracleUnit& u, std::int64_t o) { return u.Offset < o; });
        return it != FUnits.end() && it->Offset == offset ? static_cast<int>(it - FUnits.begin())
                                                          : -1;
    }

    static std::string Describe(const TPage& p) {
        return "page of " + std::to_string(p.Rows) + " from unit " + std::to_string(p.First);
    }

    TPage Page(TFakeWindow& w) {
        TPage page;
        TForm1& f = *w.form;
        page.Rows = f.LocatorCount;
        page.Capacity = f.RowCapacity;
        page.Open = f.LastLenOpen;
        page.Position = f.WindowPosition;
        if (w.list.Count != f.LocatorCount) {
            Fail("the list shows another number of rows than the page holds");
        }
        if (f.LocatorCount > std::max(page.Capacity, 1)) {
            Fail("more rows than a page holds");
        }
        for (int i = 0; i < f.LocatorCount; ++i) {
            const TNalUnitLocator& row = f.Locators[static_cast<std::size_t>(i)];
            const int index = IndexOf(row.Offset);
            if (index < 0) {
                Fail("row " + std::to_string(i) + " at " + std::to_string(row.Offset) +
                     " is no unit of the file");
                return page;
            }
            if (i == 0) {
                page.First = index;
            } else if (index != page.First + i) {
                Fail("rows are not consecutive units");
                return page;
            }
            const TOracleUnit& unit = FUnits[static_cast<std::size_t>(index)];
            const bool open = f.LastLenOpen && i == f.LocatorCount - 1;
            if (!open && row.Len != unit.Len) {
                Fail("row " + std::to_string(i) + " shows length " + std::to_string(row.Len) +
                     " of a unit of " + std::to_string(unit.Len));
            }
            // A length so far only where the unit really runs past a step's bound.
            if (open && (row.Len >= unit.Len || unit.Len < kNavigationReadBound / 2)) {
                Fail("row " + std::to_string(i) + " shows " + std::to_string(row.Len) +
                     "+ for a unit of " + std::to_string(unit.Len));
            }
        }
        return page;
    }

    bool EndsFile(const TPage& p) const {
        return p.First >= 0 && p.First + p.Rows == static_cast<int>(FUnits.size());
    }

    // Bytes from the unit at index on to the end of the one after count more.
    std::int64_t Span(int first, int count) const {
        const int last = std::min(first + count, static_cast<int>(FUnits.size()) - 1);
        return FUnits[static_cast<std::size_t>(last)].Offset +
               FUnits[static_cast<std::size_t>(last)].Len -
               FUnits[static_cast<std::size_t>(first)].Offset;
    }

    void Expect(bool condition, const std::string& what) {
        if (!condition) {
            Fail(what);
        }
    }

    void CheckStep(TFakeWindow& w, TUserStep step, const TPage& b, const TPage& a,
                   std::int64_t thumbAt) {
        TForm1& f = *w.form;
        if (f.RowCapacity == 0 || b.Capacity == 0) {
            return; // a list too short to show a row: nothing to see
        }
        const bool noted = !f.NavigationNote.empty();
        const bool unchanged = a.First == b.First && a.Rows == b.Rows;
        const int units = static_cast<int>(FUnits.size());
        if (w.bar1.Pos != f.LastScrollPosition) {
            Fail("the bar is not where the last step left it");
        }
        // A page short of rows ends the file, or is one whose rows span about a bound.
        if (a.Rows > 0 && a.Rows < a.Capacity && !EndsFile(a) && !a.Open &&
            Span(a.First, a.Rows) < kNavigationReadBound / 2 &&
            (a.First == 0 || Span(a.First - 1, a.Rows) < kNavigationReadBound / 2)) {
            Fail("a page short of rows in the middle of the file");
        }
        if (a.Rows == 0 && !noted && !(b.Rows == 0 && step == TUserStep::Resize)) {
            Fail("an empty page says nothing");
        }
        const bool forward = step == TUserStep::Down || step == TUserStep::PageDown ||
                             step == TUserStep::BarDown || step == TUserStep::BarPageDown ||
                             step == TUserStep::WheelDown;
        if (forward && a.Rows > 0 && b.Rows > 0 && a.First < b.First) {
            Fail("a forward step went back");
        }
        const bool backward = step == TUserStep::Up || step == TUserStep::PageUp ||
                              step == TUserStep::BarUp || step == TUserStep::BarPageUp ||
                              step == TUserStep::WheelUp;
        if (backward && a.Rows > 0 && b.Rows > 0 && a.First > b.First) {
            Fail("a backward step went forward");
        }
        switch (step) {
        case TUserStep::Home:
            Expect(units == 0 || a.First == 0 || (a.Rows == 0 && noted),
                   "Home does not list the first unit");
            break;
        case TUserStep::End:
            Expect(EndsFile(a) || (a.Rows == 0 && noted), "End does not end at the last unit");
            break;
        case TUserStep::PageDown:
        case TUserStep::BarPageDown:
            if (b.Rows > 0 && !EndsFile(b)) {
                Expect(a.First == b.First + b.Rows || (unchanged && noted),
                       "Page Down does not start right after the last row");
            } else if (b.Rows > 0) {
                Expect(unchanged, "Page Down at the end moved");
            }
            break;
        case TUserStep::PageUp:
        case TUserStep::BarPageUp:
            if (b.Rows > 0 && b.First > 0) {
                Expect((a.First + a.Rows == b.First) || a.First == 0 || (unchanged && noted),
                       "Page Up does not end right before the first row");
            } else if (b.Rows > 0) {
                Expect(unchanged, "Page Up at the start moved");
            }
            break;
        case TUserStep::Down:
        case TUserStep::BarDown:
            // A page whose last unit's end is not yet found does not know it ends the file.
            if (b.Rows > 0 && (!EndsFile(b) || b.Open || (b.Rows == b.Capacity && b.Rows >= 2))) {
                Expect(a.First == b.First + 1 || (unchanged && (noted || (b.Open && EndsFile(b)))),
                       "one step down does not move by one unit");
            } else if (b.Rows > 0) {
                Expect(unchanged, "one step down at the end moved");
            }
            break;
        case TUserStep::Up:
        case TUserStep::BarUp:
            if (b.Rows > 0 && b.First > 0) {
                Expect(a.First == b.First - 1 || (unchanged && noted),
                       "one step up does not move by one unit");
            } else if (b.Rows > 0) {
                Expect(unchanged, "one step up at the start moved");
            }
            break;
        case TUserStep::WheelDown:
            if (b.Rows > 0 && a.Rows > 0) {
                Expect(a.First - b.First <= 3, "a notch down moves more than three units");
                Expect(a.First - b.First == 3 || EndsFile(a) || noted,
                       "a notch down stops short of three units");
            }
            break;
        case TUserStep::WheelUp:
            if (b.Rows > 0) {
                Expect(b.First - a.First == std::min(3, b.First) || noted,
                       "a notch up does not move by three units");
            }
            break;
        case TUserStep::Thumb:
            if (thumbAt >= 0 && a.Rows > 0) {
                const auto after = std::lower_bound(
                    FUnits.begin(), FUnits.end(), thumbAt,
                    [](const TOracleUnit& u, std::int64_t o) { return u.Offset < o; });
                const int expected =
                    after != FUnits.end() ? static_cast<int>(after - FUnits.begin()) : units - 1;
                Expect(a.First == expected, "the thumb does not list the first unit after it");
            }
            break;
        default:
            break;
        }
        // The tree and the hex view show the selected row; without one, nothing.
        const int selected = w.list.Selected;
        if (selected >= 0 && selected < f.LocatorCount && selected < f.RowCapacity) {
            const TNalUnitLocator& row = f.Locators[static_cast<std::size_t>(selected)];
            if (step != TUserStep::Resize &&
                (!f.HexView || f.HexView->CurrentPos() != row.Offset)) {
                Fail("the hex view does not show the selected row " + std::to_string(selected) +
                     " at " + std::to_string(row.Offset) + " but " +
                     std::to_string(f.HexView ? f.HexView->CurrentPos() : -1));
            }
        } else if (step != TUserStep::Resize && !w.hex.Lines.empty()) {
            Fail("the hex view shows lines with no row selected");
        }
    }

    std::vector<TOracleUnit> FUnits;
    std::function<void(const std::string&)> FFail;
    std::string FWhat;
    std::string FHistory; // the steps before, the latest first
};
