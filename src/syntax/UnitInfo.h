#pragma once

// One line that says what a NAL unit is, for the NAL list's Info column and the listing's
// fifth field: a slice's type, frame_num, POC lsb and QP; a parameter set's main facts;
// the names of an SEI unit's messages; what an access unit delimiter allows. It reads only
// the first bytes of a unit and the parameter sets the lookup finds, so a page of units
// costs a few small reads.

#include "syntax/BitStream4.h"
#include "syntax/GoverningSets.h"

#include <cstdint>
#include <memory>
#include <string>

class FileStream;

// Bytes of a unit read for its summary: enough for any slice header or parameter set, and
// more for an SEI unit whose messages go on past the first read.
inline constexpr std::int32_t kInfoFirstReadSize = 256;
inline constexpr std::int32_t kInfoReadSize = 4096;
inline constexpr std::int32_t kInfoSeiReadSize = 65536;

// What a summary adds when the unit's bytes end before what it needs.
inline constexpr const char* kEndsEarlyNote = "(ends early)";

class TUnitInfo {
  public:
    TUnitInfo();

    // The summary of the unit whose start code begins at data[0], of which n bytes are
    // given (at most kInfoSeiReadSize). cut: the unit goes on past them, so a summary that
    // needs more says "..." rather than that the unit ends early. sets answers the
    // parameter sets a slice needs, and may be null. The text stays valid until the next
    // call.
    const std::string& Describe(const std::uint8_t* data, std::int32_t n, bool cut,
                                IGoverningSets* sets);

    // Reads the unit at offset (length bytes long as listed, start code included) with
    // bounded reads and describes it. fileSize bounds the reads. Throws on a read failure.
    const std::string& Read(FileStream& stream, std::int64_t offset, std::int64_t length,
                            std::int64_t fileSize, IGoverningSets* sets);

    // The last Describe ran out of the bytes of a unit that goes on: Read would read more.
    bool WantsMore() const { return FWantsMore; }

  private:
    void Slice(std::uint8_t header, const std::uint8_t* payload, std::int32_t size,
               IGoverningSets* sets);
    void SequenceParameterSet(const std::uint8_t* payload, std::int32_t size);
    void PictureParameterSet(const std::uint8_t* payload, std::int32_t size);
    void Sei(const std::uint8_t* payload, std::int32_t size);
    void AccessUnitDelimiter(const std::uint8_t* payload, std::int32_t size);
    void EndsEarly();

    std::unique_ptr<std::uint8_t[]> FBytes;
    std::unique_ptr<std::uint8_t[]> FRbsp;
    TBitStream4 FReader;
    std::string FText;
    bool FCut = false;
    // Describe ran out of bytes of a unit that goes on.
    bool FWantsMore = false;
};
