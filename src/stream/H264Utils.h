#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

class FileStream;

// Where one NAL unit lies in the stream file.
struct TNalUnitLocator {
    std::int64_t Offset;         // first byte of the start code
    std::int64_t Len;            // start code included, up to the next start code
    std::uint32_t StartCodeWord; // the four bytes at Offset, big-endian: 1 for 00 00 00 01
    std::uint8_t NalHeader;      // the byte after the start code
};

inline constexpr std::int32_t kIsH264VideoESBlock = 2097152;

// A four-byte start code (00 00 00 01) begins at p, all of it within the available bytes.
inline bool IsStartCode4(const std::uint8_t* p, std::int64_t available) {
    return available >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1;
}

// A three-byte start code (00 00 01) begins at p, all of it within the available bytes.
inline bool IsStartCode3(const std::uint8_t* p, std::int64_t available) {
    return available >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Length of the start code that begins at p (4 tried first), 0 when none does.
inline int StartCodeLength(const std::uint8_t* p, std::int64_t available) {
    if (IsStartCode4(p, available)) {
        return 4;
    }
    return IsStartCode3(p, available) ? 3 : 0;
}

// True when a scan that walks the file from its start lists a NAL unit at p: a start code
// begins there and is not the 00 00 01 inside a 00 00 00 01 that begins one byte earlier.
// zeroBefore: the byte before p is 00 (false at the start of the file).
inline bool BeginsListedNalUnit(const std::uint8_t* p, std::int64_t available, bool zeroBefore) {
    const int length = StartCodeLength(p, available);
    return length == 4 || (length == 3 && !zeroBefore);
}

// Position of the first start code that begins at or after from and at or before
// lastBegin, wholly within the available bytes; -1 when there is none. Positions are
// examined as one upward byte-by-byte scan would, so the 00 00 00 01 form is reported at
// its first zero.
std::int64_t FindStartCode(const std::uint8_t* data, std::int64_t available, std::int64_t from,
                           std::int64_t lastBegin);

// The kernels of that search: FindStartCode takes the widest this processor runs (Wide:
// AVX2, on x86-64 only), and the tests hold each one to the same answers.
enum class TStartCodeKernel { Narrow, Wide };
bool RunsStartCodeKernel(TStartCodeKernel kernel);
std::int64_t FindStartCode(TStartCodeKernel kernel, const std::uint8_t* data,
                           std::int64_t available, std::int64_t from, std::int64_t lastBegin);

// Measures the NAL unit whose start code begins at Data: from the start code up to the
// next start code, or to the end of the Available bytes. False (Length unchanged) when no
// start code begins at Data.
bool GetNalUnitLength(const std::uint8_t* Data, std::int32_t Available, std::int32_t& Length);

// True when the first 2 MiB of the stream hold two start codes whose header bytes have
// forbidden_zero_bit clear (and no such byte with it set comes first). Moves the position.
// When the file is refused and Reason is given, Reason says why in a few words ("the file
// is empty", "no start codes in its first 2 MiB", "cannot be read: ...").
bool IsH264VideoES(FileStream& Stream, std::string* Reason = nullptr);

inline constexpr const char* kNotValidStreamMessage = "Not valid H.264 video elementary stream";

// The message for a refused file, the same in the window and on the command line: the
// fixed first line, then the file's path and the reason, each on a line of its own.
std::string NotValidStreamText(const std::string& path, const std::string& reason);

// nal_unit_type values that the program tells apart.
enum TNalUnitType : std::uint32_t {
    kNalNonIdrSlice = 1,
    kNalPartitionA = 2,
    kNalPartitionB = 3,
    kNalPartitionC = 4,
    kNalIdrSlice = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalDelimiter = 9,
    kNalEndOfSequence = 10,
    kNalEndOfStream = 11,
    kNalFiller = 12,
    kNalSpsExtension = 13,
    kNalPrefix = 14,
    kNalSubsetSps = 15,
    kNalAuxiliarySlice = 19,
    kNalSliceExtension = 20,
};

// The NAL unit header fields.
inline std::uint32_t ForbiddenZeroBit(std::uint8_t header) {
    return header >> 7;
}
inline std::uint32_t NalRefIdc(std::uint8_t header) {
    return (header >> 5) & 3u;
}
inline std::uint32_t NalUnitType(std::uint8_t header) {
    return header & 31u;
}

// Sets Name to the display name of nal_unit_type; values above 31 leave it as it was.
void GetNalUnitTypeName(std::uint32_t NalUnitType, std::string& Name);

// Text followed by spaces up to width characters; a longer text is returned whole.
std::string PadRight(std::string_view text, std::size_t width);

// Copies Source to Destination without emulation-prevention bytes (the 03 of 00 00 03).
// Source and Destination must not overlap; Destination holds at least Length bytes.
bool Remove_emulation_prevention_three_bytes(const std::uint8_t* Source, std::int32_t Length,
                                             std::uint8_t* Destination, std::int32_t& Written);

// Where byte rbspIndex of what Remove_emulation_prevention_three_bytes writes from Source
// lies in Source: each emulation-prevention byte removed before it moves it one further.
// Length when the removal writes fewer bytes.
std::int32_t StoredIndexOfRbspByte(const std::uint8_t* Source, std::int32_t Length,
                                   std::int32_t rbspIndex);
// The same for one bit, counted from Source's first bit.
std::int64_t StoredBitOfRbspBit(const std::uint8_t* Source, std::int32_t Length,
                                std::int64_t rbspBit);
// The same for many bits of one unit. Most lie before its first emulation-prevention byte,
// where a bit is where it was: the bytes before it are looked at once, not once a bit.
class TStoredBitMap {
  public:
    TStoredBitMap(const std::uint8_t* source, std::int32_t length)
        : FSource(source), FLength(length) {}
    std::int64_t StoredBit(std::int64_t rbspBit) {
        return rbspBit >= 0 && rbspBit / 8 < FClear ? rbspBit : StoredBitFurther(rbspBit);
    }

  private:
    std::int64_t StoredBitFurther(std::int64_t rbspBit);

    const std::uint8_t* FSource;
    std::int32_t FLength;
    std::int32_t FClear = 0; // the first bytes, none of them an emulation-prevention byte
    bool FBlocked = false;   // the byte at FClear is one
};

// The NAL list's texts of one NAL unit: "0x" and 16 upper-case hexadecimal digits; the
// start code and header byte ("0x00000001" or "0x000001", then two digits); the type name.
std::string NalOffsetText(std::int64_t offset);
std::string NalStartCodeText(bool fourByteStartCode, std::uint8_t header);
std::string NalTypeText(std::uint8_t header);
// The same texts written into a caller's buffer, for listings of millions of lines. Each
// writes at most its k...MaxSize characters at out and returns the end of what it wrote.
inline constexpr std::size_t kNalOffsetTextMaxSize = 18;
inline constexpr std::size_t kNalStartCodeTextMaxSize = 12;
char* WriteNalOffsetText(char* out, std::int64_t offset);
char* WriteNalStartCodeText(char* out, bool fourByteStartCode, std::uint8_t header);
// The type name of the header byte (at most kNalTypeNameMaxSize characters), in storage
// that lives as long as the program.
inline constexpr std::size_t kNalTypeNameMaxSize = 64;
std::string_view NalTypeName(std::uint8_t header);
// The NAL Type text, and the detail tree's only line under "NAL", of a unit that is its
// start code alone (it ends the file, or the next start code follows at once).
inline constexpr const char* kNoHeaderText = "(no header)";

// A file offset as the user or a script writes it: decimal, or hexadecimal after 0x (or
// 0X); nothing else, no sign, no blanks. None for any other text or a value past 2^63 - 1.
std::optional<std::int64_t> ParseOffsetText(std::string_view text);
