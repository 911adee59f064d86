#include "syntax/FieldLines.h"

TFieldLines::TFieldLines(TFieldContext& context, TBitStream4& reader, TTreeLine parent,
                         std::int64_t base)
    : FContext(context), FReader(reader), FLine(parent), FBase(base) {}

TFieldLines TFieldLines::Structure(std::string text, TBitStream4& reader, std::int64_t base) {
    TFieldLines inner(FContext, reader, nullptr, base);
    inner.FOuter = this;
    inner.FText = std::move(text);
    return inner;
}

TTreeLine TFieldLines::Line() {
    if (FLine == nullptr && FOuter != nullptr) {
        const TTreeLine outer = FOuter->Line();
        if (outer != nullptr) {
            FLine = FContext.Tree.AddChildLine(outer, FText);
            FContext.Tree.ExpandLine(FLine);
        }
    }
    return FLine;
}

void TFieldLines::Tell(std::string_view label, std::int64_t value) {
    if (FContext.Values != nullptr && !Failed()) {
        FContext.Values->Value(label, value);
    }
}

void TFieldLines::Add(std::string_view label, std::string_view value, int annotationBits,
                      std::int64_t bits) {
    if (Failed() || FContext.Values != nullptr) {
        return;
    }
    const TTreeLine parent = Line();
    if (parent == nullptr) {
        return;
    }
    ElementLine(FContext.Line, label, kParameterSetLabelWidth, value, annotationBits);
    const TTreeLine line = FContext.Tree.AddChildLine(parent, FContext.Line);
    if (FContext.Bits != nullptr && line != nullptr) {
        FContext.Bits->LineBits(line, FBase + FReader.BitsRead() - bits, bits);
    }
}

std::uint32_t TFieldLines::U(std::string_view label, int bits) {
    const std::uint32_t value = FReader.ReadBits(bits);
    Tell(label, value);
    Add(label, std::to_string(value), bits, bits);
    return value;
}

std::uint32_t TFieldLines::Ue(std::string_view label) {
    const std::int64_t before = FReader.BitsRead();
    const std::uint32_t value = FReader.ReadUE();
    Tell(label, value);
    Add(label, std::to_string(value), kVariableBits, FReader.BitsRead() - before);
    return value;
}

std::int32_t TFieldLines::Se(std::string_view label) {
    const std::int64_t before = FReader.BitsRead();
    const std::int32_t value = FReader.ReadSE();
    Tell(label, value);
    Add(label, std::to_string(value), kVariableBits, FReader.BitsRead() - before);
    return value;
}

std::int32_t TFieldLines::I(std::string_view label, int bits) {
    const std::uint32_t raw = FReader.ReadBits(bits);
    std::int64_t value = raw;
    if (bits > 0 && bits < 32 && (raw >> (bits - 1)) != 0) {
        value -= std::int64_t{1} << bits;
    } else if (bits == 32) {
        value = static_cast<std::int32_t>(raw);
    }
    Tell(label, value);
    Add(label, std::to_string(value), bits, bits);
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
