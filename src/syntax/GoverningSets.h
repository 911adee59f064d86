#pragma once

#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <optional>

// The parameter sets that govern the unit being decoded, found before it in the file.
// A pointer answered stays valid until the next question.
class IGoverningSets {
  public:
    virtual ~IGoverningSets() = default;
    // The nearest picture parameter set with that id before the unit; null when none.
    virtual const TPicParameterSet* Pps(std::uint32_t pic_parameter_set_id) = 0;
    // The nearest sequence parameter set with that id (any id when none is given) before
    // the unit; null when none.
    virtual const TSeqParameterSet* Sps(std::optional<std::uint32_t> seq_parameter_set_id) = 0;
};
