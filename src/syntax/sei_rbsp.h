#pragma once

#include "syntax/FieldLines.h"
#include "syntax/GoverningSets.h"

#include <cstdint>

// The name of an SEI payload type ("user_data_unregistered"); null for a type this
// program does not know.
const char* SeiPayloadTypeName(std::uint32_t payloadType);

// Shows sei_rbsp( ) under parent: one sei_message( ) line per message with its payloadType,
// payloadSize and the payload's structure, decoded in full for buffering_period,
// pic_timing, user_data_unregistered and recovery_point. payload is the RBSP after the
// header byte. A payload that runs past the unit ends the list with a line saying so.
void Decode_sei_rbsp(TFieldContext& context, TTreeLine parent, const std::uint8_t* payload,
                     std::int32_t size, IGoverningSets& sets);
