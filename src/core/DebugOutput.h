#pragma once

#include <functional>
#include <string>
#include <string_view>

// The debugger output channel: error, warning and trace lines go here and nowhere else.
// On Windows a line reaches OutputDebugStringA, elsewhere standard error while the
// environment has QUILLET_DEBUG=1 (and nowhere otherwise), unless a sink has been
// installed (tests capture the lines that way).
void DebugOutput(std::string_view line);

// Whether the lines reach standard error where there is no debugger channel.
bool DebugOutputWanted();

using DebugSink = std::function<void(std::string_view line)>;

// Installs a sink that receives every line instead of the platform channel; an empty
// sink restores the platform channel. Returns the sink that was installed before.
DebugSink SetDebugSink(DebugSink sink);
