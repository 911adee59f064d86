#pragma once

// Finds the parameter set a unit refers to by its id, looking back through the file from
// the unit's own place: no index of the whole file is ever built, so a stream browsed
// from the middle of a huge file works as well as one read from its start.

#include "syntax/GoverningSets.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class FileStream;

// How far before a unit its parameter sets are looked for.
inline constexpr std::int64_t kParameterSetSearchBound = 16777216; // 16 MiB

// Which parameter set is looked for: its nal_unit_type (7 or 8) and its id; any id when
// none is given (the sequence parameter set nearest before an SEI message).
using TParameterSetId = std::optional<std::uint32_t>;


// The chroma_format_idc of the sequence parameter set whose start code begins at data
// (4:2:0 for profiles without the chroma block); no value when the bytes hold none.
std::optional<std::uint32_t> SpsChromaFormat(const std::uint8_t* data, std::int32_t n);

class TParameterSetFinder {
  public:
    explicit TParameterSetFinder(FileStream& stream);

    // The nearest unit of type 7 or 8 with the given id whose start code begins before
    // `before`, no further back than kParameterSetSearchBound. It reads backward in blocks
    // that grow from 64 KiB and stops at the first match, and it remembers the last few
    // sets found, so that walking down a stream does not read the same bytes again. Moves
    // the stream's position; throws on a read failure.
    std::optional<std::int64_t> Find(std::uint32_t type, TParameterSetId id, std::int64_t before);

    // The chroma_format_idc of the sequence parameter set with the given id that governs a
    // picture parameter set beginning at ppsOffset.
    std::optional<std::uint32_t> GoverningChromaFormat(std::uint32_t seq_parameter_set_id,
                                                       std::int64_t ppsOffset);

    // The payload of the set of type at offset: its first kParameterSetBytes after the
    // header byte as stored, emulation prevention removed. Valid until the next call; false
    // when the unit there is not of type or holds no payload. unit, when given, receives the
    // unit's bytes as stored from its header byte on.
    bool ReadSet(std::int64_t offset, std::uint32_t type, const std::uint8_t*& rbsp,
                 std::int32_t& size, std::vector<std::uint8_t>* unit = nullptr);

    // Forgets what was found: the file is another one now.
    void Forget();

  private:
    // A set found, and how far after it the file is known to hold no newer set with the
    // same type and id: every query up to ValidUpTo has this answer.
    struct TEntry {
        bool Used = false;
        std::uint32_t Type = 0;
        TParameterSetId Id;
        std::int64_t Offset = 0;
        std::int64_t ValidUpTo = 0;
    };
    // Searches start codes beginning in [floor, before) from the top down.
    std::optional<std::int64_t> SearchBack(std::uint32_t type, TParameterSetId id,
                                           std::int64_t floor, std::int64_t before);
    void Remember(std::uint32_t type, TParameterSetId id, std::int64_t offset,
                  std::int64_t validUpTo);
    // The payload (emulation prevention removed) of the unit at offset, into FPayload;
    // false when it holds no payload.
    bool ReadPayload(std::int64_t offset, std::uint32_t type);
    FileStream& FStream;
    std::array<TEntry, 8> FEntries{};
    std::size_t FNextEntry = 0;
    std::vector<std::uint8_t> FUnit;
    std::vector<std::uint8_t> FPayload;
    std::int32_t FPayloadSize = 0;
    std::int32_t FUnitStart = 0; // the header byte's place in FUnit
    std::int32_t FUnitLength = 0;
};
