#pragma once

#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <optional>
#include <string>

// "seq_parameter_set_id 0 not found within 16 MiB before this unit".
std::string NotFoundLine(const char* idName, std::uint32_t id);

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
    // Where the set with that id lies that the one rule refused, when no readable one was
    // given at the last question (idName: "seq_parameter_set_id" or "pic_parameter_set_id").
    virtual std::optional<std::int64_t> RefusedAt(const char* /*idName*/, std::uint32_t /*id*/) {
        return std::nullopt;
    }
    // Why the set with that id was not given: NotFoundLine, or that the set there cannot be
    // read.
    std::string MissingLine(const char* idName, std::uint32_t id);
};
