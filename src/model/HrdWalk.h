#pragma once

// The access units of a stream as the buffer model and the level check take them: their
// sizes as each HRD counts them, the governing sequence parameter set, the timing SEI.

#include "syntax/sei_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <atomic>
#include <cstdint>
#include <functional>

class FileStream;

enum class THrdKind { Nal, Vcl };

// What each HRD counts, in words, for the output: the one place that says it, beside the
// one place that counts it (HrdWalk.cpp).
const char* HrdBytesCounted(THrdKind kind);

struct THrdAccessUnit {
    std::int64_t Index = 0;    // in decoding order, from 0
    std::int64_t Offset = 0;   // its first start code, zero_byte included
    std::int64_t NalBytes = 0; // as the NAL HRD counts them (the first: the bytes before it too)
    std::int64_t VclBytes = 0; // as the VCL HRD counts them
    std::int64_t UnitBytes = 0; // NumBytesInNALunit of all its units: for the level's MinCR
    bool HasPicture = false;
    bool Idr = false;
    bool Field = false;
    std::uint32_t SliceType = 0; // of its first slice, 0..4
    std::int32_t Slices = 0;     // of its primary picture
    std::int64_t FirstSlice = -1;
    std::int32_t Poc = 0;
    std::uint64_t PicSizeInMbs = 0; // of its primary picture, when its set is known
    // The set of its first slice whose header could be read; null when none. Valid during
    // the call only.
    const TSeqParameterSet* Sps = nullptr;
    TSeiTiming Timing;
    // Messages about SEI that the model needs and did not get (a set not found), one line.
    bool TimingSpsMissing = false;

    std::int64_t Bytes(THrdKind kind) const { return kind == THrdKind::Nal ? NalBytes : VclBytes; }
};

// Tells `each` every access unit of the stream in decoding order, until it answers false;
// fixed memory, files and standard input alike. False when cancelled.
bool WalkHrdAccessUnits(FileStream& stream,
                        const std::function<bool(const THrdAccessUnit&)>& each,
                        const std::atomic<bool>* cancel = nullptr);
