#pragma once

#include "syntax/BitStream4.h"

#include <cstdint>

// Size of scaling list i of a parameter set: 4x4 lists first, then the 8x8 ones.
inline std::int32_t ScalingListSize(std::int32_t i) {
    return i < 6 ? 16 : 64;
}

// Reads one scaling_list( ) and drops it: the viewer shows only that a list is present,
// but its delta_scale codes must be consumed for the elements after it to be right.
void Skip_scaling_list(TBitStream4& reader, std::int32_t sizeOfScalingList);
