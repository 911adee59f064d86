#pragma once

// Parameter sets for the fuzz targets that decode slices: parsed from the fuzz input
// itself, so that slices meet every kind of set.

#include "syntax/BitStream4.h"
#include "syntax/GoverningSets.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <optional>

// Sets parsed from the fuzz input; none when its first bit says so.
class InputSets final : public IGoverningSets {
  public:
    InputSets(const std::uint8_t* data, std::int32_t n) : FPresent(n > 0 && (data[0] & 0x80) != 0) {
        TBitStream4 reader;
        if (reader.SetData(data, n) == kStatusOk) {
            Parse_seq_parameter_set_rbsp(reader, FSps);
            reader.SetData(data, n);
            Parse_pic_parameter_set_rbsp(reader, FPps);
        }
    }
    const TPicParameterSet* Pps(std::uint32_t) override { return FPresent ? &FPps : nullptr; }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t>) override {
        return FPresent ? &FSps : nullptr;
    }

  private:
    bool FPresent;
    TSeqParameterSet FSps{};
    TPicParameterSet FPps{};
};
