#include "syntax/scaling_list.h"

void Skip_scaling_list(TBitStream4& reader, std::int32_t sizeOfScalingList) {
    std::int64_t lastScale = 8;
    std::int64_t nextScale = 8;
    for (std::int32_t j = 0; j < sizeOfScalingList; ++j) {
        if (nextScale != 0) {
            const std::int64_t delta_scale = reader.ReadSE();
            nextScale = ((lastScale + delta_scale) % 256 + 256) % 256;
        }
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
}
