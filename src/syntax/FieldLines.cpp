#include "syntax/FieldLines.h"

#include <charconv>

TFieldLines::TFieldLines(TFieldContext& context, TBitStream4& reader, TTreeLine parent,
                         std::int64_t base)
    : FContext(context), FReader(reader), FLine(parent), FBase(base) {}

TFieldLines TFieldLines::Structure(std::string_view text, TBitStream4& reader, std::int64_t base) {
    TFieldLines inner(FContext, reader, nullptr, base);
    inner.FOuter = this;
    inner.FText = text;
    return inner;
}

TTreeLine TFieldLines::StructureLine() {
    const TTreeLine outer = FOuter->Line();
    if (outer != nullptr) {
        FLine = AddTextLine(FContext.Tree, FContext.Elements, outer, FText);
        FContext.Tree.ExpandLine(FLine);
    }
    return FLine;
}

// Inline, so that Read, which nearly every line comes from, takes it in.
inline void TFieldLines::AddShown(std::string_view label, std::string_view value,
                                  int annotationBits, std::int64_t bits) {
    const TTreeLine parent = Line();
    if (parent == nullptr) {
        return;
    }
    const TTreeLine line =
        AddElementLine(FContext.Tree, FContext.Elements, parent,
                       {label, kParameterSetLabelWidth, value, annotationBits, {}});
    if (FContext.Bits != nullptr && line != nullptr) {
        FContext.Bits->LineBits(line, FBase + FReader.BitsRead() - bits, bits);
    }
}

void TFieldLines::Read(const TElementName& name, std::int64_t value, int annotationBits,
                       std::int64_t bits) {
    if (Failed()) {
        return;
    }
    if (FContext.Values != nullptr) {
        if (name.Id != TElementId::None) {
            FContext.Values->Value(name.Id, value);
        }
        return;
    }
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    AddShown(name.Label, {digits, static_cast<std::size_t>(end - digits)}, annotationBits, bits);
}

void TFieldLines::Add(std::string_view label, std::string_view value, int annotationBits,
                      std::int64_t bits) {
    if (!Failed() && FContext.Values == nullptr) {
        AddShown(label, value, annotationBits, bits);
    }
}

std::uint32_t TFieldLines::U(TElementName name, int bits) {
    const std::uint32_t value = FReader.ReadBits(bits);
    Read(name, value, bits, bits);
    return value;
}

std::uint32_t TFieldLines::Ue(TElementName name) {
    const std::int64_t before = FReader.BitsRead();
    const std::uint32_t value = FReader.ReadUE();
    Read(name, value, kVariableBits, FReader.BitsRead() - before);
    return value;
}

std::int32_t TFieldLines::Se(TElementName name) {
    const std::int64_t before = FReader.BitsRead();
    const std::int32_t value = FReader.ReadSE();
    Read(name, value, kVariableBits, FReader.BitsRead() - before);
    return value;
}

std::int32_t TFieldLines::I(TElementName name, int bits) {
    const std::uint32_t raw = FReader.ReadBits(bits);
    std::int64_t value = raw;
    if (bits > 0 && bits < 32 && (raw >> (bits - 1)) != 0) {
        value -= std::int64_t{1} << bits;
    } else if (bits == 32) {
        value = static_cast<std::int32_t>(raw);
    }
    Read(name, value, bits, bits);
    return static_cast<std::int32_t>(value);
}

void TFieldLines::Shown(std::string_view label, std::string_view value, std::int64_t bits) {
    Add(label, value, bits > 0 && bits < 0x7FFFFFFF ? static_cast<int>(bits) : kVariableBits, bits);
}

void TFieldLines::Note(const std::string& text) {
    if (Failed() || FContext.Values != nullptr) {
        return;
    }
    if (const TTreeLine parent = Line()) {
        FContext.Tree.AddChildLine(parent, text);
    }
}
