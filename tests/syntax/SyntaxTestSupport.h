#pragma once

// Helpers of the syntax tests: a bit writer to build payloads, and readers of tree lines.

#include "support/TestSupport.h"
#include "syntax/SyntaxTree.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Builds a payload bit by bit, most significant bit first.
class BitWriter {
  public:
    BitWriter& U(int bits, std::uint64_t value) {
        for (int i = bits - 1; i >= 0; --i) {
            Bit(static_cast<int>((value >> i) & 1u));
        }
        return *this;
    }
    BitWriter& Flag(bool value) { return Bit(value ? 1 : 0); }
    // Exp-Golomb written from its definition: z zeros, then value + 1 in z + 1 bits.
    BitWriter& Ue(std::uint64_t value) {
        const std::uint64_t code = value + 1;
        int z = 0;
        while ((code >> (z + 1)) != 0) {
            ++z;
        }
        U(z, 0);
        return U(z + 1, code);
    }
    BitWriter& Se(std::int64_t value) {
        return Ue(value > 0 ? static_cast<std::uint64_t>(2 * value - 1)
                            : static_cast<std::uint64_t>(-2 * value));
    }
    // Elements from a compact text: "0"/"1" one bit, "uN:V" N bits, "ue:V", "se:V"; blanks
    // and "|" only separate.
    BitWriter& Put(const std::string& elements) {
        std::size_t i = 0;
        while (i < elements.size()) {
            if (elements[i] == ' ' || elements[i] == '|') {
                ++i;
                continue;
            }
            const std::size_t end = std::min(elements.find_first_of(" |", i), elements.size());
            const std::string token = elements.substr(i, end - i);
            i = end;
            if (token == "0" || token == "1") {
                Bit(token == "1");
            } else if (token.rfind("ue:", 0) == 0) {
                Ue(std::stoull(token.substr(3)));
            } else if (token.rfind("se:", 0) == 0) {
                Se(std::stoll(token.substr(3)));
            } else if (token[0] == 'u') {
                const std::size_t colon = token.find(':');
                U(std::stoi(token.substr(1, colon - 1)), std::stoull(token.substr(colon + 1)));
            } else {
                throw std::invalid_argument("bad element " + token);
            }
        }
        return *this;
    }
    // rbsp_trailing_bits( ): the stop bit and zeros up to the byte boundary.
    BitWriter& Trailing() {
        FElementBits = FBits;
        Bit(1);
        while (FBits % 8 != 0) {
            Bit(0);
        }
        return *this;
    }
    BitWriter& Bit(int b) {
        if (FBits % 8 == 0) {
            FBytes.push_back(0);
        }
        if (b) {
            FBytes.back() = static_cast<std::uint8_t>(FBytes.back() | (0x80u >> (FBits % 8)));
        }
        ++FBits;
        return *this;
    }
    std::size_t BitCount() const { return FBits; }
    // Bits a parse leaves after its closing byte alignment: those of the byte that holds
    // the stop bit when the elements end on a byte boundary, none otherwise.
    std::int64_t BitsLeftAfterAlign() const {
        return static_cast<std::int64_t>(8 * FBytes.size() - (FElementBits + 7) / 8 * 8);
    }
    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }

  private:
    std::vector<std::uint8_t> FBytes;
    std::size_t FBits = 0;
    std::size_t FElementBits = 0;
};

// An element line taken apart: "label<blanks> : value (annotation)".
struct ParsedLine {
    std::string Label;
    std::string Value;
    std::string Annotation; // "1 bit", "8 bits", "v bits"
    std::string Meaning;    // what the value stands for, shown in brackets after the width
};

inline std::optional<ParsedLine> ParseElementLine(std::string text) {
    std::string meaning;
    if (!text.empty() && text.back() == ']') {
        const auto bracket = text.rfind(" [");
        if (bracket != std::string::npos) {
            meaning = text.substr(bracket + 2, text.size() - bracket - 3);
            text.erase(bracket);
        }
    }
    const auto sep = text.find(" : ");
    const auto open = text.rfind(" (");
    if (sep == std::string::npos || open == std::string::npos || open < sep || text.back() != ')') {
        return std::nullopt;
    }
    ParsedLine line;
    line.Label = text.substr(0, text.find_last_not_of(' ', sep) + 1);
    line.Value = text.substr(sep + 3, open - sep - 3);
    line.Annotation = text.substr(open + 2, text.size() - open - 3);
    line.Meaning = meaning;
    return line;
}

// Texts of a line's children.
inline std::vector<std::string> ChildTexts(const TSyntaxLine& line) {
    std::vector<std::string> texts;
    for (const auto& child : line.Children) {
        texts.push_back(child->Text);
    }
    return texts;
}

// Labels of a line's children (structure lines keep their whole text).
inline std::vector<std::string> ChildLabels(const TSyntaxLine& line) {
    std::vector<std::string> labels;
    for (const auto& child : line.Children) {
        const auto parsed = ParseElementLine(child->Text);
        labels.push_back(parsed ? parsed->Label : child->Text);
    }
    return labels;
}

// The child whose label or text is name; null when there is none.
inline const TSyntaxLine* FindChild(const TSyntaxLine& line, const std::string& name) {
    for (const auto& child : line.Children) {
        const auto parsed = ParseElementLine(child->Text);
        if ((parsed && parsed->Label == name) || child->Text == name) {
            return child;
        }
    }
    return nullptr;
}

// The value text of the child element line with that label; "" when absent.
inline std::string ChildValue(const TSyntaxLine& line, const std::string& label) {
    const TSyntaxLine* child = FindChild(line, label);
    if (child == nullptr) {
        return "";
    }
    const auto parsed = ParseElementLine(child->Text);
    return parsed ? parsed->Value : "";
}

// A NAL unit: start code and header byte as hex text, then the payload bytes.
inline std::vector<std::uint8_t> Unit(const std::string& startCodeAndHeader,
                                      const std::vector<std::uint8_t>& payload = {}) {
    auto bytes = Hex(startCodeAndHeader);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// Inserts emulation-prevention bytes as an encoder does.
inline std::vector<std::uint8_t> Escape(const std::vector<std::uint8_t>& rbsp) {
    std::vector<std::uint8_t> out;
    int zeros = 0;
    for (std::uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}
