#pragma once

// The checks of one unit's syntax, each rule beside the code that checks it (the files
// Checks_*.cpp). They look at the records the parsers fill and at the unit's bytes; the
// rules between units and those of the levels are the stream check's (model/).

#include "syntax/AccessUnit.h"
#include "syntax/Rules.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>

// forbidden_zero_bit, nal_ref_idc where the type sets it, and the reserved types.
void CheckNalHeader(std::uint8_t header, TUnitProblems& problems);

// The payload as stored (after the header byte, up to its last byte that is not zero): no
// 00 00 00, 00 00 01 or 00 00 02 in it, and no 00 00 03 followed by a byte above 03.
void CheckPayloadBytes(const std::uint8_t* payload, std::int32_t size, TUnitProblems& problems);

// The zero bytes that end a payload after its stop bit, emulation prevention removed: the
// payload as stored ends in (00 00 03)* after them. Even for cabac_zero_word( )s.
std::int32_t TrailingZeroBytes(const std::uint8_t* payload, std::int32_t size);

// rbsp_trailing_bits( ) of a payload (emulation prevention removed) whose last element ends
// at bit `at`: a one, then zeros to the byte's end, then nothing.
void CheckTrailingBits(const std::uint8_t* rbsp, std::int32_t size, std::int64_t at,
                       TUnitProblems& problems);

// A unit that cannot be read to its last element: one problem, not one per element.
void ReportEndsEarly(TUnitProblems& problems);

// The elements of a sequence parameter set (with its VUI and HRD) and what its profile
// allows; read in full.
void CheckSps(const TSeqParameterSet& sps, TUnitProblems& problems);
// The elements of a picture parameter set; sps is the one its id names, when known (without
// it, what no sequence set could allow).
void CheckPps(const TPicParameterSet& pps, const TSeqParameterSet* sps, TUnitProblems& problems);
// The elements of a slice header that the walk reads, with the sets that govern it.
void CheckSliceHead(const TSliceHead& head, const TPicParameterSet& pps,
                    const TSeqParameterSet& sps, TUnitProblems& problems);
// Whether the profile of sps allows a unit of this type (data partitions) at all.
void CheckUnitTypeForProfile(std::uint32_t nal_unit_type, const TSeqParameterSet& sps,
                             TUnitProblems& problems);
// A slice's bytes after its stop bit: cabac_zero_word( )s, in CABAC slices only.
void CheckSliceTail(const std::uint8_t* payload, std::int32_t size, const TPicParameterSet& pps,
                    TUnitProblems& problems);

// The units with a small payload of their own (emulation prevention removed): the access
// unit delimiter (its primary_pic_type, or none when it cannot be read), the ends of
// sequence and stream, filler data (as stored), the sequence parameter set extension and
// the list of SEI messages (their sizes, not their contents).
std::int32_t CheckAccessUnitDelimiter(const std::uint8_t* rbsp, std::int32_t size,
                                      TUnitProblems& problems);
void CheckEmptyPayload(std::int32_t size, TUnitProblems& problems);
void CheckFiller(const std::uint8_t* payload, std::int32_t size, TUnitProblems& problems);
void CheckSpsExtension(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems);
void CheckSeiMessages(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems);

// The profiles whose constraints the check knows: Baseline, Main, Extended and those
// with the chroma block.
bool KnownProfile(std::uint32_t profile_idc);

// The checks of those units by their type, for a unit read whole: its payload after the
// header byte without emulation prevention (rbsp) and as stored, each up to its last byte
// that is not zero.
void CheckUnitPayload(std::uint32_t nal_unit_type, const std::uint8_t* rbsp, std::int32_t rbspSize,
                      const std::uint8_t* stored, std::int32_t storedSize, TUnitProblems& problems);

// Whether a slice of slice_type may be in an access unit whose delimiter says
// primary_pic_type.
bool SliceTypeAllowed(std::uint32_t primary_pic_type, std::uint32_t slice_type);
