// The checks of a unit's header, of its bytes, and of the units with a small payload.

#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/Checks.h"

#include <algorithm>
#include <cstring>

namespace {

const TRule kForbiddenZeroBit("forbidden-zero-bit", TSeverity::Error, "forbidden_zero_bit",
                              "forbidden_zero_bit must be 0", "7.4.1");
const TRule kRefIdcZero("nal-ref-idc-zero", TSeverity::Error, "nal_ref_idc",
                        "nal_ref_idc must be 0 in SEI, delimiter, end and filler units",
                        "7.4.1");
const TRule kRefIdcNonZero("nal-ref-idc-non-zero", TSeverity::Error, "nal_ref_idc",
                           "nal_ref_idc must not be 0 in parameter sets and IDR slices",
                           "7.4.1");
const TRule kReservedType("nal-unit-type-reserved", TSeverity::Warning, "nal_unit_type",
                          "nal_unit_type is reserved", "7.4.1");
const TRule kForbiddenSequence("emulation-forbidden-sequence", TSeverity::Error, nullptr,
                               "a payload must not hold 00 00 00, 00 00 01 or 00 00 02",
                               "7.4.1");
const TRule kEmulationByte("emulation-prevention-byte", TSeverity::Error,
                           "emulation_prevention_three_byte",
                           "00 00 03 must end the unit or come before 00, 01, 02 or 03",
                           "7.4.1");
const TRule kTrailingBits("rbsp-trailing-bits", TSeverity::Error, "rbsp_stop_one_bit",
                          "the payload must end with rbsp_trailing_bits( ) after its last element",
                          "7.4.2.11");
const TRule kEndsEarly("payload-ends-early", TSeverity::Error, nullptr,
                       "the payload ends before its last element", "7.3.2");
const TRule kEndPayload("end-unit-payload", TSeverity::Error, nullptr,
                        "an end of sequence or end of stream unit has no payload", "7.4.2.5");
const TRule kFillerByte("filler-data-byte", TSeverity::Error, "ff_byte",
                        "filler data holds only 0xFF bytes before its trailing bits", "7.4.2.7");
const TRule kExtensionId("sps-extension-id-range", TSeverity::Error, "seq_parameter_set_id",
                         "seq_parameter_set_id must be at most 31", "7.4.2.1.2");
const TRule kAuxFormat("aux-format-idc-range", TSeverity::Error, "aux_format_idc",
                       "aux_format_idc must be at most 3", "7.4.2.1.2");
const TRule kAuxDepth("bit-depth-aux-range", TSeverity::Error, "bit_depth_aux_minus8",
                      "bit_depth_aux_minus8 must be at most 4", "7.4.2.1.2");
const TRule kAdditionalExtension("additional-extension-flag", TSeverity::Warning,
                                 "additional_extension_flag",
                                 "additional_extension_flag must be 0", "7.4.2.1.2");
const TRule kSeiSize("sei-payload-size", TSeverity::Error, "payloadSize",
                     "an SEI message's payloadSize runs past the unit", "7.4.2.3.1");
const TRule kSeiEmpty("sei-no-message", TSeverity::Error, nullptr,
                      "an SEI unit holds at least one message", "7.4.2.3");

// Whether the bit at `at` of the payload is set.
bool BitAt(const std::uint8_t* rbsp, std::int64_t at) {
    return ((rbsp[at / 8] >> (7 - at % 8)) & 1u) != 0;
}

} // namespace

void CheckNalHeader(std::uint8_t header, TUnitProblems& problems) {
    problems.Expect(ForbiddenZeroBit(header) == 0, kForbiddenZeroBit);
    const std::uint32_t type = NalUnitType(header);
    const std::uint32_t refIdc = NalRefIdc(header);
    const bool mustBeZero = type == kNalSei || (type >= kNalDelimiter && type <= kNalFiller);
    const bool mustNotBeZero = type == kNalSps || type == kNalPps || type == kNalIdrSlice ||
                               type == kNalSpsExtension || type == kNalSubsetSps;
    problems.Expect(!mustBeZero || refIdc == 0, kRefIdcZero, refIdc);
    problems.Expect(!mustNotBeZero || refIdc != 0, kRefIdcNonZero, refIdc);
    const bool reserved = (type >= 16 && type <= 18) || type == 22 || type == 23;
    problems.Expect(!reserved, kReservedType, type);
}

void CheckPayloadBytes(const std::uint8_t* payload, std::int32_t size, TUnitProblems& problems) {
    // Only a pair of zeros can begin a sequence; zeros are rare in coded data, so the search
    // goes from one zero to the next.
    const std::uint8_t* p = payload;
    const std::uint8_t* const end = payload + size;
    bool badEmulation = false;
    while (end - p >= 3) {
        p = static_cast<const std::uint8_t*>(std::memchr(p, 0, static_cast<std::size_t>(end - p - 2)));
        if (p == nullptr) {
            break;
        }
        if (p[1] != 0) {
            p += 2;
            continue;
        }
        if (p[2] <= 2) {
            problems.Expect(false, kForbiddenSequence);
            return;
        }
        if (p[2] == 3 && end - p >= 4 && p[3] > 3 && !badEmulation) {
            badEmulation = true;
            problems.Expect(false, kEmulationByte);
        }
        p += 3;
    }
}

std::int32_t TrailingZeroBytes(const std::uint8_t* payload, std::int32_t size) {
    std::int32_t zeros = 0;
    while (size >= 3 && payload[size - 1] == 3 && payload[size - 2] == 0 &&
           payload[size - 3] == 0) {
        zeros += 2;
        size -= 3;
    }
    return zeros;
}

void CheckTrailingBits(const std::uint8_t* rbsp, std::int32_t size, std::int64_t at,
                       TUnitProblems& problems) {
    const bool fits = at >= 0 && at < 8 * static_cast<std::int64_t>(size);
    const std::uint32_t after = fits ? (1u << (7 - at % 8)) - 1 : 0;
    problems.Expect(fits && BitAt(rbsp, at) && (rbsp[at / 8] & after) == 0 && size == at / 8 + 1,
                    kTrailingBits);
}

void ReportEndsEarly(TUnitProblems& problems) {
    problems.Expect(false, kEndsEarly);
}

std::int32_t CheckAccessUnitDelimiter(const std::uint8_t* rbsp, std::int32_t size,
                                      TUnitProblems& problems) {
    if (size <= 0) {
        ReportEndsEarly(problems);
        return -1;
    }
    CheckTrailingBits(rbsp, size, 3, problems);
    return rbsp[0] >> 5;
}

void CheckEmptyPayload(std::int32_t size, TUnitProblems& problems) {
    problems.Expect(size == 0, kEndPayload);
}

void CheckFiller(const std::uint8_t* payload, std::int32_t size, TUnitProblems& problems) {
    if (size <= 0) {
        ReportEndsEarly(problems);
        return;
    }
    const std::uint8_t* last = payload + size - 1;
    if (problems.Expect(std::find_if(payload, last, [](std::uint8_t b) { return b != 0xFF; }) ==
                            last,
                        kFillerByte)) {
        CheckTrailingBits(last, 1, 0, problems);
    }
}

void CheckSpsExtension(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        ReportEndsEarly(problems);
        return;
    }
    const std::uint32_t id = reader.ReadUE();
    const std::uint32_t auxFormat = reader.ReadUE();
    std::uint32_t depth = 0;
    if (auxFormat != 0) {
        depth = reader.ReadUE();
        reader.ReadBit(); // alpha_incr_flag
        const int bits = static_cast<int>(std::min<std::uint32_t>(depth, 23) + 9);
        reader.ReadBits(bits); // alpha_opaque_value
        reader.ReadBits(bits); // alpha_transparent_value
    }
    const std::uint32_t additional = reader.ReadBit();
    if (reader.Error() != 0) {
        ReportEndsEarly(problems);
        return;
    }
    problems.Expect(id <= 31, kExtensionId, id);
    problems.Expect(auxFormat <= 3, kAuxFormat, auxFormat);
    problems.Expect(depth <= 4, kAuxDepth, depth);
    problems.Expect(additional == 0, kAdditionalExtension, additional);
    CheckTrailingBits(rbsp, size, reader.BitsRead(), problems);
}

void CheckSeiMessages(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems) {
    std::int32_t at = 0;
    std::int32_t messages = 0;
    // Each message: its type and size, each a run of 0xFF bytes and a last byte, then its
    // payload; the trailing bits end the list.
    while (at < size && !(at == size - 1 && rbsp[at] == 0x80)) {
        std::int64_t values[2] = {0, 0};
        for (std::int64_t& value : values) {
            while (at < size && rbsp[at] == 0xFF) {
                value += 255;
                ++at;
            }
            if (at >= size) {
                ReportEndsEarly(problems);
                return;
            }
            value += rbsp[at++];
        }
        if (!problems.Expect(values[1] <= size - at, kSeiSize, values[1])) {
            return;
        }
        at += static_cast<std::int32_t>(values[1]);
        ++messages;
    }
    if (problems.Expect(messages > 0, kSeiEmpty)) {
        CheckTrailingBits(rbsp, size, 8 * static_cast<std::int64_t>(at), problems);
    }
}

void CheckUnitPayload(std::uint32_t nal_unit_type, const std::uint8_t* rbsp, std::int32_t rbspSize,
                      const std::uint8_t* stored, std::int32_t storedSize, TUnitProblems& problems) {
    switch (nal_unit_type) {
    case kNalSei:
        CheckSeiMessages(rbsp, rbspSize, problems);
        break;
    case kNalDelimiter:
        CheckAccessUnitDelimiter(rbsp, rbspSize, problems);
        break;
    case kNalEndOfSequence:
    case kNalEndOfStream:
        CheckEmptyPayload(storedSize, problems);
        break;
    case kNalFiller:
        CheckFiller(stored, storedSize, problems);
        break;
    case kNalSpsExtension:
        CheckSpsExtension(rbsp, rbspSize, problems);
        break;
    default:
        break;
    }
}

bool SliceTypeAllowed(std::uint32_t primary_pic_type, std::uint32_t slice_type) {
    // Bits by slice_type modulo 5 (P, B, I, SP, SI) of each primary_pic_type.
    static constexpr std::uint8_t kAllowed[8] = {
        0b00100, 0b00101, 0b00111, 0b10000, 0b11000, 0b10100, 0b11101, 0b11111};
    return primary_pic_type < 8 && ((kAllowed[primary_pic_type] >> (slice_type % 5)) & 1u) != 0;
}
