// The hex view as a user drives it: an arbitrary file, a list of arbitrary height, then
// an arbitrary run of keys, scroll codes, refreshes and range selections (Shift with the
// keys, the mouse pressed and dragged). After every step the list holds at most one screen
// of lines, and each line shows its own offset and exactly the file's bytes there; a range
// selected lies within the file, and its copy names exactly the file's bytes in it. The hex-dump
// lines of the file's bytes are checked on their own as well.
//
// Input: one byte n (actions, at most 32), one byte of visible lines, 2 n bytes of
// actions, then the file's bytes.

#include "FuzzSupport.h"
#include "hexview/HexViewUtils.h"
#include "hexview/StringUtils.h"
#include "support/Fakes.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string DigitsOf(const std::uint8_t* bytes, std::size_t count) {
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) {
        digits += ByteToHexStr(bytes[i]) + " ";
    }
    return digits;
}

void CheckDumpLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines;
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(size, 4096));
    const bool made = MemToStrLines2(data, n, &lines);
    FuzzCheck(made == (n > 0), "lines made exactly for bytes");
    FuzzCheck(lines.size() == static_cast<std::size_t>((n + 15) / 16), "one line per 16 bytes");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t count = std::min<std::size_t>(16, static_cast<std::size_t>(n) - 16 * i);
        FuzzCheck(lines[i].size() == kHexColumnWidth + count, "line width");
        FuzzCheck(lines[i].compare(0, 3 * count, DigitsOf(data + 16 * i, count)) == 0,
                  "digits are the bytes");
    }
}

void CheckScreen(const FakeLineList& list, const FakeScrollBar& bar,
                 const std::vector<std::uint8_t>& file, int visible) {
    FuzzCheck(list.Lines.size() <= static_cast<std::size_t>(std::max(visible, 0)),
              "one screen at most");
    FuzzCheck(bar.Pos >= 0 && bar.Pos <= kHexScrollMax, "thumb on the bar");
    for (const std::string& line : list.Lines) {
        FuzzCheck(line.size() > 21 && line.compare(0, 2, "0x") == 0, "line has an offset");
        const auto offset = static_cast<std::size_t>(std::stoull(line.substr(2, 16), nullptr, 16));
        FuzzCheck(offset % 16 == 0 && offset < file.size(), "line offset inside the file");
        const std::size_t count = std::min<std::size_t>(16, file.size() - offset);
        FuzzCheck(line.compare(21, 3 * count, DigitsOf(file.data() + offset, count)) == 0,
                  "line shows the file's bytes");
    }
}

// The range's copy read back: each line's offset and digit pairs are the file's bytes, every
// byte of the range once.
void CheckRange(THexView& view, const std::vector<std::uint8_t>& file) {
    if (!view.HasRange()) {
        return;
    }
    const std::int64_t first = view.RangeFirst();
    const std::int64_t end = view.RangeEnd();
    FuzzCheck(first >= 0 && end <= static_cast<std::int64_t>(file.size()), "range in the file");
    std::string text;
    std::string reason;
    FuzzCheck(view.RangeText(text, reason), "a range within the limit copies");
    std::int64_t next = first;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t eol = text.find('\n', at);
        FuzzCheck(eol != std::string::npos, "lines end");
        const std::string line = text.substr(at, eol - at);
        const auto offset = static_cast<std::int64_t>(std::stoull(line.substr(2, 16), nullptr, 16));
        for (std::size_t i = 0; i < 16 && 21 + 3 * i + 2 <= line.size(); ++i) {
            if (line.compare(21 + 3 * i, 2, "  ") != 0) {
                FuzzCheck(offset + static_cast<std::int64_t>(i) == next, "bytes in order, once");
                FuzzCheck(line.compare(21 + 3 * i, 3,
                                       DigitsOf(&file[static_cast<std::size_t>(next)], 1)) == 0,
                          "the copy shows the file's byte");
                ++next;
            }
        }
        at = eol + 1;
    }
    FuzzCheck(next == end, "every byte of the range copied");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TFuzzFile input("hex-view");
    SilenceDebugOutput();
    if (size < 2) {
        return 0;
    }
    const std::size_t actions = std::min<std::size_t>(data[0], 32);
    const int visible = data[1] % 40;
    if (size < 2 + 2 * actions) {
        return 0;
    }
    const std::uint8_t* file = data + 2 + 2 * actions;
    const std::size_t fileSize = size - 2 - 2 * actions;
    CheckDumpLines(file, fileSize);
    const std::vector<std::uint8_t> bytes(file, file + fileSize);
    input.Write(file, fileSize);

    FakeLineList list;
    FakeScrollBar bar;
    list.SetVisibleLines(visible);
    THexView view;
    view.Init(&list, &bar);
    view.OpenFile(input.Path());
    CheckScreen(list, bar, bytes, visible);
    static const int keys[] = {Key::Up,   Key::Down, Key::PageUp, Key::PageDown,
                               Key::Home, Key::End,  0x41};
    for (std::size_t i = 0; i < actions; ++i) {
        const std::uint8_t kind = data[2 + 2 * i];
        const std::uint8_t arg = data[3 + 2 * i];
        switch (kind % 4) {
        case 0:
            list.PressKey(keys[arg % 7]);
            break;
        case 3:
            if (list.OnRange) {
                static const int shiftKeys[] = {Key::Left,   Key::Right,    Key::Up,   Key::Down,
                                                Key::PageUp, Key::PageDown, Key::Home, Key::End};
                const auto how = static_cast<TRangeInput::TKind>(arg % 3);
                list.OnRange(
                    {how, shiftKeys[arg / 3 % 8], arg / 24 % 12, kind, (kind & 0x80) != 0});
            }
            break;
        case 1: {
            const auto code = static_cast<ScrollCode>(kind / 3 % 9);
            bar.Scroll(code, arg * kHexScrollMax / 255 + (kind & 0x80 ? 1 : 0) - 1);
            break;
        }
        default:
            view.RefreshFileData(static_cast<std::int64_t>(fileSize) * arg / 255 - (kind & 1));
            break;
        }
        CheckScreen(list, bar, bytes, visible);
        CheckRange(view, bytes);
    }
    return 0;
}
