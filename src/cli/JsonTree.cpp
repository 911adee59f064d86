#include "cli/JsonTree.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The bytes a JSON string cannot hold as they are.
constexpr std::array<bool, 256> kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (std::size_t byte = 0; byte < escaped.size(); ++byte) {
        escaped[byte] = byte < 0x20 || byte > 0x7E || byte == '"' || byte == '\\';
    }
    return escaped;
}();

#if defined(__SSE2__)
// Marks each of the sixteen bytes of v that needs an escape.
__m128i EscapedBytes(__m128i v) {
    // As signed bytes the plain ones lie above 0x1F: those from 0x80 on are negative.
    const __m128i control = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
    const __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
        _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
    return _mm_or_si128(control, special);
}

// Whether one of the sixteen bytes at p needs an escape.
bool EscapedIn16(const char* p) {
    return _mm_movemask_epi8(EscapedBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))) !=
           0;
}
#endif

// The first byte from i on that needs an escape (text.size() when none does), looked for
// sixteen or eight bytes at a time: most text needs none.
std::size_t PlainUpTo(std::string_view text, std::size_t i) {
#if defined(__SSE2__)
    for (; i + 16 <= text.size(); i += 16) {
        if (EscapedIn16(text.data() + i)) {
            break;
        }
    }
    if (i < text.size() && text.size() >= 16 && i + 16 > text.size() &&
        !EscapedIn16(text.data() + text.size() - 16)) {
        return text.size();
    }
#endif
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    const auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const auto escapedIn = [&](std::size_t at) {
        std::uint64_t v = 0;
        std::memcpy(&v, text.data() + at, 8);
        return (((v - kOnes * 0x20) & ~v & kHighs) | (v & kHighs) | hasZero(v ^ (kOnes * 0x7F)) |
                hasZero(v ^ (kOnes * '"')) | hasZero(v ^ (kOnes * '\\'))) != 0;
    };
    for (; i + 8 <= text.size(); i += 8) {
        if (escapedIn(i)) {
            break;
        }
    }
    // The last few bytes as the eight that end the text, which overlap what was looked at.
    if (i < text.size() && text.size() >= 8 && i + 8 > text.size() && !escapedIn(text.size() - 8)) {
        return text.size();
    }
    while (i < text.size() && !kEscaped[static_cast<unsigned char>(text[i])]) {
        ++i;
    }
    return i;
}

// Writes text escaped, quotes included, through append (which takes a string_view): runs
// of plain characters at once, each other byte as its escape.
template <class Append> void EscapeJson(std::string_view text, Append&& append) {
    static constexpr char kHex[] = "0123456789abcdef";
    append(std::string_view("\""));
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        i = PlainUpTo(text, i);
        if (i == text.size()) {
            break;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!kEscaped[byte]) {
            continue;
        }
        append(text.substr(plain, i - plain));
        plain = i + 1;
        if (byte == '"' || byte == '\\') {
            const char escape[2] = {'\\', text[i]};
            append(std::string_view(escape, 2));
        } else {
            const char escape[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
            append(std::string_view(escape, 6));
        }
    }
    append(text.substr(plain));
    append(std::string_view("\""));
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string out;
    EscapeJson(text, [&out](std::string_view part) { out += part; });
    return out;
}

void AppendJsonString(std::string_view text, TLineBuffer& lines) {
    EscapeJson(text, [&lines](std::string_view part) { lines.Append(part); });
}

namespace {

// The label, value and meaning of an element line ("label<blanks> : value (N bits)", with
// " [meaning]" after it when the value has one); false for a structure or note line.
bool SplitElementLine(std::string_view text, std::string_view& name, std::string_view& value,
                      std::string_view& meaning) {
    meaning = {};
    if (!text.empty() && text.back() == ']') {
        const std::size_t bracket = text.rfind(" [");
        if (bracket != std::string_view::npos) {
            meaning = text.substr(bracket + 2, text.size() - bracket - 3);
            text = text.substr(0, bracket);
        }
    }
    // Most text lines are structure lines, which hold no " : " to look for an annotation after.
    const std::size_t sep = ElementSeparator(text);
    if (sep == std::string_view::npos || text.back() != ')') {
        return false;
    }
    const std::size_t open = text.rfind(" (");
    if (open == std::string_view::npos || open < sep) {
        return false;
    }
    const std::string_view all(text);
    std::size_t labelEnd = sep;
    while (labelEnd > 0 && all[labelEnd - 1] == ' ') {
        --labelEnd; // the label's padding
    }
    name = all.substr(0, labelEnd);
    value = all.substr(sep + 3, open - sep - 3);
    return true;
}

char* Put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// Copies text to out and tells whether none of it needs an escape, in one pass.
bool CopyPlain(char* out, std::string_view text) {
#if defined(__SSE2__)
    const std::size_t n = text.size();
    if (n >= 16) {
        __m128i escaped = _mm_setzero_si128();
        const auto move = [&](std::size_t at) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), v);
            escaped = _mm_or_si128(escaped, EscapedBytes(v));
        };
        for (std::size_t at = 0; at + 16 < n; at += 16) {
            move(at);
        }
        move(n - 16);
        return _mm_movemask_epi8(escaped) == 0;
    }
#endif
    CopyText(out, text);
    return PlainUpTo(text, 0) == text.size();
}

// A line's members besides its text.
struct TMembers {
    bool Element = false;
    std::string_view Name;
    std::string_view Value;
    std::string_view Meaning;
};

// Room for the members besides their texts: the keys, quotes and the two bit counts; and
// for the bit counts' members alone.
constexpr std::size_t kMembersRoom = 160;
constexpr std::size_t kBitsRoom = 64;

// The members after the text, whose parts they are and so need no escape.
char* PutMembers(char* out, const TMembers& members) {
    const auto string = [&out](std::string_view key, std::string_view text) {
        out = Put(out, key);
        out = CopyText(out, text);
        *out++ = '"';
    };
    if (members.Element) {
        string(",\"name\":\"", members.Name);
        string(",\"value\":\"", members.Value);
        if (!members.Meaning.empty()) {
            string(",\"meaning\":\"", members.Meaning);
        }
    }
    return out;
}

// The same for parts that need escapes, or too long for one piece.
void AppendMembers(std::string_view text, const TMembers& members, TLineBuffer& lines) {
    lines.Append("{\"text\":");
    AppendJsonString(text, lines);
    if (members.Element) {
        lines.Append(",\"name\":");
        AppendJsonString(members.Name, lines);
        lines.Append(",\"value\":");
        AppendJsonString(members.Value, lines);
        if (!members.Meaning.empty()) {
            lines.Append(",\"meaning\":");
            AppendJsonString(members.Meaning, lines);
        }
    }
}

} // namespace

char* TJsonTreeWriter::PutBits(char* out, const TDumpLine& line, std::int64_t unitOffset) {
    if (line.FirstBit < 0) {
        return out;
    }
    out = Put(out, ",\"first_bit\":");
    // A line's first bit lies a little after the last one's, most often: its digits are the
    // last ones' carried forward by the difference.
    const auto first = static_cast<std::uint64_t>(8 * unitOffset + line.FirstBit);
    std::uint64_t carry = first - FFirstBit;
    std::size_t digit = FFirstBitSize;
    if (first >= FFirstBit && carry < 100 && digit > 0) {
        if (char& last = FFirstBitText[digit - 1];
            carry + static_cast<std::uint64_t>(last) <= '9') {
            last = static_cast<char>(last + static_cast<char>(carry)); // the usual step
            carry = 0;
        }
        while (carry != 0 && digit > 0) {
            const std::uint64_t sum =
                static_cast<std::uint64_t>(FFirstBitText[--digit] - '0') + carry;
            FFirstBitText[digit] = static_cast<char>('0' + sum % 10);
            carry = sum / 10;
        }
    }
    if (carry != 0 || FFirstBitSize == 0) {
        FFirstBitSize = static_cast<std::size_t>(
            std::to_chars(FFirstBitText, FFirstBitText + sizeof FFirstBitText, first).ptr -
            FFirstBitText);
    }
    FFirstBit = first;
    out = CopyText(out, {FFirstBitText, FFirstBitSize});
    out = Put(out, ",\"bits\":");
    if (line.Bits >= 0 && line.Bits < 10) {
        *out++ = static_cast<char>('0' + line.Bits); // the usual width
        return out;
    }
    return std::to_chars(out, out + 20, line.Bits).ptr;
}

void TJsonTreeWriter::Line(const TDumpLine& line, std::int64_t unitOffset) {
    TLineBuffer& lines = FLines;
    const std::string_view text = line.Text();
    TMembers members{line.Element, {}, {}, {}};
    if (line.Element) {
        // An element line's name, value and meaning lie in its text.
        members.Name = line.Label();
        members.Value = line.Value();
        members.Meaning = line.Meaning();
    } else {
        // A text line that reads as an element line is written as one.
        members.Element = SplitElementLine(text, members.Name, members.Value, members.Meaning);
    }
    // The name, value and meaning lie in the text: when it needs no escape, nor do they.
    bool written = false;
    constexpr std::string_view kText = "{\"text\":\"";
    const std::size_t most = 2 * text.size() + kMembersRoom;
    if (most <= TLineBuffer::kRoomMaxSize) {
        char* out = Put(lines.Room(most), kText);
        if (CopyPlain(out, text)) {
            out += text.size();
            *out++ = '"';
            lines.Commit(PutBits(PutMembers(out, members), line, unitOffset));
            written = true;
        }
    }
    if (!written) {
        AppendMembers(text, members, lines);
        lines.Commit(PutBits(lines.Room(kBitsRoom), line, unitOffset));
    }
    if (line.FirstChild != nullptr) {
        lines.Append(",\"children\":[");
        for (const TDumpLine* child = line.FirstChild; child != nullptr; child = child->Next) {
            if (child != line.FirstChild) {
                lines.Append(',');
            }
            Line(*child, unitOffset);
        }
        lines.Append(']');
    }
    lines.Append('}');
}
