#pragma once

#include "syntax/BitStream4.h"
#include "syntax/scaling_list.h"

#include <cstdint>

// Reads the syntax elements of a parameter set that its tree shows, one tree line each,
// and marks every line on the reader (TBitStream4::Mark) once its data has been read.
// The tree routines add their lines in the same order, so the count of marks made before
// the payload ran out is the count of lines that show real data. Reads that the tree
// does not show (surplus array entries, the scaling lists of a PPS) go to the reader
// directly.
class TElementReader {
  public:
    explicit TElementReader(TBitStream4& reader) : FReader(reader) {}

    std::uint32_t Bit() {
        const std::int64_t start = Start();
        return Line(start, FReader.ReadBit());
    }
    std::uint32_t Bits(int n) {
        const std::int64_t start = Start();
        return Line(start, FReader.ReadBits(n));
    }
    std::uint32_t Bits32() {
        const std::int64_t start = Start();
        return Line(start, FReader.ReadBits32());
    }
    std::uint32_t Ue() {
        const std::int64_t start = Start();
        return Line(start, FReader.ReadUE());
    }
    std::int32_t Se() {
        const std::int64_t start = Start();
        return Line(start, FReader.ReadSE());
    }
    // A scaling list that the tree shows as one structure line.
    void ScalingListLine(std::int32_t sizeOfScalingList) {
        const std::int64_t start = Start();
        Skip_scaling_list(FReader, sizeOfScalingList);
        Line(start, 0);
    }
    // A structure line that the tree shows before the next element: it is kept only when
    // that element is read in full.
    void StructureLine() { ++FPending; }

  private:
    std::int64_t Start() const { return FReader.BitsRead(); }
    // After the read of the line's element, which began at start.
    template <class T> T Line(std::int64_t start, T value) {
        for (std::int32_t i = 0; i < FPending; ++i) {
            FReader.LogSpan(TBitSpan{});
        }
        FReader.LogSpan(TBitSpan{start, FReader.BitsRead() - start});
        FReader.Mark(1 + FPending);
        FPending = 0;
        return value;
    }

    TBitStream4& FReader;
    std::int32_t FPending = 0;
};
