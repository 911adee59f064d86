#pragma once

#include "syntax/FieldLines.h"
#include "syntax/GoverningSets.h"

#include <cstdint>

// The name of an SEI payload type ("user_data_unregistered"); null for a type this
// program does not know.
const char* SeiPayloadTypeName(std::uint32_t payloadType);

// How a walk over the messages of an SEI payload ended.
enum class TSeiWalkEnd {
    Complete,  // after the last message
    Stopped,   // the visitor asked to stop
    EndsEarly, // a message's header or body runs past the payload
};

// Tells visit the payloadType of each sei_message( ) in an SEI payload (the RBSP after the
// header byte), in order; visit returns false to stop. A message whose body runs past the
// payload is still told, and the walk ends there.
template <class Visit>
TSeiWalkEnd WalkSeiPayloadTypes(const std::uint8_t* payload, std::int32_t size, Visit visit);

// The timing values of an SEI unit's buffering_period( ) and pic_timing( ), for the buffer
// model: the same reading that makes the tree's lines fills it.
struct TSeiTiming {
    static constexpr std::int32_t kEntries = THrdParameters::kCpbCapacity;
    bool BufferingPeriod = false;
    std::uint32_t BufferingPeriodSpsId = 0;
    bool BufferingPeriodSpsFound = false;
    // Entries read in full, per HRD: 0 = NAL, 1 = VCL.
    std::int32_t Entries[2] = {0, 0};
    std::uint32_t InitialDelay[2][kEntries] = {};
    std::uint32_t InitialOffset[2][kEntries] = {};
    bool PicTiming = false;
    // cpb_removal_delay and dpb_output_delay were read (the SPS has an HRD).
    bool PicTimingDelays = false;
    std::uint32_t CpbRemovalDelay = 0;
    std::uint32_t DpbOutputDelay = 0;
};

// Shows sei_rbsp( ) under parent: one sei_message( ) line per message with its payloadType,
// payloadSize and the payload's structure, decoded in full for buffering_period,
// pic_timing, user_data_unregistered and recovery_point. payload is the RBSP after the
// header byte. A payload that runs past the unit ends the list with a line saying so.
// With timing, the values of those two messages also go there.
void Decode_sei_rbsp(TFieldContext& context, TTreeLine parent, const std::uint8_t* payload,
                     std::int32_t size, IGoverningSets& sets, TSeiTiming* timing = nullptr);

// The one routine behind the template: visit as a plain callback.
TSeiWalkEnd WalkSeiPayloadTypesWith(const std::uint8_t* payload, std::int32_t size,
                                    bool (*visit)(void* context, std::uint32_t payloadType),
                                    void* context);

template <class Visit>
TSeiWalkEnd WalkSeiPayloadTypes(const std::uint8_t* payload, std::int32_t size, Visit visit) {
    return WalkSeiPayloadTypesWith(
        payload, size,
        [](void* context, std::uint32_t payloadType) {
            return (*static_cast<Visit*>(context))(payloadType);
        },
        &visit);
}
