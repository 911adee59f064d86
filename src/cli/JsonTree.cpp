#include "cli/JsonTree.h"

#include <array>
#include <cstdio>

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            std::array<char, 8> escape{};
            std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(byte));
            out += escape.data();
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
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
    const std::size_t sep = text.find(" : ");
    const std::size_t open = text.rfind(" (");
    if (sep == std::string_view::npos || open == std::string_view::npos || open < sep ||
        text.back() != ')') {
        return false;
    }
    const std::string_view all(text);
    name = all.substr(0, sep);
    name = name.substr(0, name.find_last_not_of(' ') + 1);
    value = all.substr(sep + 3, open - sep - 3);
    return true;
}

} // namespace

void AppendJsonLine(const TSyntaxLine& line, std::int64_t unitOffset, std::string& out) {
    out += "{\"text\":";
    out += JsonString(line.Text);
    std::string_view name;
    std::string_view value;
    std::string_view meaning;
    if (SplitElementLine(line.Text, name, value, meaning)) {
        out += ",\"name\":";
        out += JsonString(name);
        out += ",\"value\":";
        out += JsonString(value);
        if (!meaning.empty()) {
            out += ",\"meaning\":";
            out += JsonString(meaning);
        }
    }
    if (line.FirstBit >= 0) {
        out += ",\"first_bit\":";
        out += std::to_string(8 * unitOffset + line.FirstBit);
        out += ",\"bits\":";
        out += std::to_string(line.Bits);
    }
    if (!line.Children.empty()) {
        out += ",\"children\":[";
        for (std::size_t i = 0; i < line.Children.size(); ++i) {
            if (i > 0) {
                out += ',';
            }
            AppendJsonLine(*line.Children[i], unitOffset, out);
        }
        out += ']';
    }
    out += '}';
}
