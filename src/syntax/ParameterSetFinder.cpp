#include "syntax/ParameterSetFinder.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "syntax/AccessUnit.h"
#include "syntax/BitStream4.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <string>

namespace {

// The head of a parameter set (its ids, and an SPS's chroma_format_idc) lies in its first
// bytes; 64 leave room for long codes.
constexpr std::int32_t kHeadBytes = 64;
// A unit beginning just below a block's top still needs its start code and head.
constexpr std::int32_t kTail = 4 + 1 + kHeadBytes;
constexpr std::int32_t kFirstBlock = 65536;
constexpr std::int32_t kLargestBlock = 4194304;

struct THead {
    std::uint32_t Id = 0;
    std::uint32_t ChromaFormat = 1;
};

// Reads the ids at the start of a parameter set's payload (emulation prevention removed).
std::optional<THead> ReadHead(std::uint32_t type, const std::uint8_t* payload, std::int32_t size) {
    TBitStream4 reader;
    if (reader.SetData(payload, size) != kStatusOk) {
        return std::nullopt;
    }
    THead head;
    if (type == kNalSps) {
        const std::uint32_t profile_idc = reader.ReadBits(8);
        reader.ReadBits(16); // constraint flags, reserved bits, level_idc
        head.Id = reader.ReadUE();
        head.ChromaFormat = ProfileHasChromaBlock(profile_idc) ? reader.ReadUE() : 1;
    } else {
        head.Id = reader.ReadUE();
    }
    if (reader.Error() != 0) {
        return std::nullopt;
    }
    return head;
}

// The head of a parameter set of type from its stored bytes after the header byte.
std::optional<THead> HeadOf(std::uint32_t type, const std::uint8_t* stored, std::int32_t size) {
    std::array<std::uint8_t, kHeadBytes> head{};
    std::int32_t written = 0;
    if (size <= 0 || !Remove_emulation_prevention_three_bytes(stored, std::min(size, kHeadBytes),
                                                              head.data(), written)) {
        return std::nullopt;
    }
    return ReadHead(type, head.data(), written);
}

TUnitWants SpsHead(std::uint8_t header) {
    return {NalUnitType(header) == kNalSps ? kHeadBytes : 0, false};
}

TUnitWants PpsHead(std::uint8_t header) {
    return {NalUnitType(header) == kNalPps ? kHeadBytes : 0, false};
}

} // namespace

std::optional<std::uint32_t> SpsChromaFormat(const std::uint8_t* data, std::int32_t n) {
    std::int32_t length = 0;
    GetNalUnitLength(data, n, length);
    const int startCode = StartCodeLength(data, length);
    if (startCode == 0 || length <= startCode + 1 || NalUnitType(data[startCode]) != kNalSps) {
        return std::nullopt;
    }
    const std::optional<THead> head = HeadOf(kNalSps, data + startCode + 1, length - startCode - 1);
    if (!head) {
        return std::nullopt;
    }
    return head->ChromaFormat;
}

std::string NotFoundLine(const char* idName, std::uint32_t id) {
    return std::string(idName) + " " + std::to_string(id) + " not found within " +
           std::to_string(kParameterSetSearchBound / 1048576) + " MiB before this unit";
}

std::string IGoverningSets::MissingLine(const char* idName, std::uint32_t id) {
    const std::optional<std::int64_t> refused = RefusedAt(idName, id);
    if (!refused) {
        return NotFoundLine(idName, id);
    }
    return std::string(idName) + " " + std::to_string(id) + ": the set at " +
           NalOffsetText(*refused) + " cannot be read, and no readable one governs this unit";
}

TParameterSetFinder::TParameterSetFinder(FileStream& stream) : FStream(stream) {}

void TParameterSetFinder::Forget() {
    FEntries = {};
}

std::optional<std::int64_t> TParameterSetFinder::Find(std::uint32_t type, TParameterSetId id,
                                                      std::int64_t before) {
    const std::int64_t bound = std::max<std::int64_t>(before - kParameterSetSearchBound, 0);
    for (TEntry& e : FEntries) {
        if (!e.Used || e.Type != type || e.Id != id || e.Offset < bound || e.Offset >= before) {
            continue;
        }
        if (before <= e.ValidUpTo) {
            return e.Offset;
        }
        // Only what came after the remembered answer needs reading.
        const std::optional<std::int64_t> newer = SearchBack(type, id, e.ValidUpTo, before);
        if (newer) {
            Remember(type, id, *newer, before);
            return newer;
        }
        e.ValidUpTo = before;
        return e.Offset;
    }
    const std::optional<std::int64_t> found = SearchBack(type, id, bound, before);
    if (found) {
        Remember(type, id, *found, before);
    }
    return found;
}

std::optional<std::int64_t> TParameterSetFinder::SearchBack(std::uint32_t type, TParameterSetId id,
                                                            std::int64_t floor,
                                                            std::int64_t before) {
    // Blocks ever larger from the top down, each walked forward: its last set with the id is
    // the nearest.
    std::int64_t top = before; // start codes beginning below top are still to search
    std::int32_t size = kFirstBlock;
    const TUnitWantsOf wants = type == kNalSps ? SpsHead : PpsHead;
    while (top > floor) {
        const std::int64_t low = std::max(floor, top - size);
        TUnitCursor cursor(FStream, size);
        cursor.Seek(low);
        cursor.SetBudget(top - low + 1 + kTail);
        std::optional<std::int64_t> found;
        TNalUnitSpan span;
        while (cursor.Next(span, wants, nullptr, 0) && span.Offset < top) {
            const std::vector<std::uint8_t>& head = cursor.Head();
            if (head.empty() || NalUnitType(span.Header) != type) {
                continue;
            }
            const std::optional<THead> ids =
                HeadOf(type, head.data(), static_cast<std::int32_t>(head.size()));
            if (ids && (!id || ids->Id == *id)) {
                found = span.Offset;
            }
        }
        if (found) {
            return found;
        }
        top = low;
        size = std::min(size * 2, kLargestBlock);
    }
    return std::nullopt;
}

void TParameterSetFinder::Remember(std::uint32_t type, TParameterSetId id, std::int64_t offset,
                                   std::int64_t validUpTo) {
    for (TEntry& e : FEntries) {
        if (e.Used && e.Type == type && e.Id == id) {
            e = TEntry{true, type, id, offset, validUpTo};
            return;
        }
    }
    FEntries[FNextEntry] = TEntry{true, type, id, offset, validUpTo};
    FNextEntry = (FNextEntry + 1) % FEntries.size();
}

std::optional<std::uint32_t>
TParameterSetFinder::GoverningChromaFormat(std::uint32_t seq_parameter_set_id,
                                           std::int64_t ppsOffset) {
    const std::optional<std::int64_t> sps = Find(kNalSps, seq_parameter_set_id, ppsOffset);
    if (!sps) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kTail> bytes{};
    FStream.Seek(*sps);
    const std::int32_t n = FStream.Read(bytes.data(), kTail);
    return SpsChromaFormat(bytes.data(), n);
}

bool TParameterSetFinder::ReadPayload(std::int64_t offset, std::uint32_t type) {
    // Parameter sets are small; what lies past this is not theirs to need. As much as a walk
    // keeps of a set, so that both read the same bytes.
    constexpr std::int32_t kLargestUnit = 4 + 1 + kParameterSetBytes;
    FUnit.resize(kLargestUnit);
    FPayload.resize(kParameterSetBytes);
    FStream.Seek(offset);
    const std::int32_t n = FStream.Read(FUnit.data(), kLargestUnit);
    std::int32_t length = 0;
    if (n <= 0 || !GetNalUnitLength(FUnit.data(), n, length)) {
        return false;
    }
    const int startCode = StartCodeLength(FUnit.data(), length);
    if (startCode == 0 || length <= startCode + 1 ||
        NalUnitType(FUnit[static_cast<std::size_t>(startCode)]) != type) {
        return false;
    }
    const std::int32_t stored = std::min(length - startCode - 1, kParameterSetBytes);
    FUnitStart = startCode;
    FUnitLength = 1 + stored;
    return Remove_emulation_prevention_three_bytes(FUnit.data() + startCode + 1, stored,
                                                   FPayload.data(), FPayloadSize) &&
           FPayloadSize > 0;
}

bool TParameterSetFinder::ReadSet(std::int64_t offset, std::uint32_t type,
                                  const std::uint8_t*& rbsp, std::int32_t& size,
                                  std::vector<std::uint8_t>* unit) {
    if (!ReadPayload(offset, type)) {
        return false;
    }
    if (unit != nullptr) {
        unit->assign(FUnit.begin() + FUnitStart, FUnit.begin() + FUnitStart + FUnitLength);
    }
    rbsp = FPayload.data();
    size = FPayloadSize;
    return true;
}
