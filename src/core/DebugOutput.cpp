#include "core/DebugOutput.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}

DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}

} // namespace

void DebugOutput(std::string_view line) {
    DebugSink sink;
    {
        std::lock_guard lock(SinkMutex());
        sink = Sink();
    }
    if (sink) {
        sink(line);
        return;
    }
    std::string text(line);
#ifdef _WIN32
    OutputDebugStringA(text.c_str());
#else
    // Standard error has no debugger behind it: the lines go there only when asked for.
    if (!DebugOutputWanted()) {
        return;
    }
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
#endif
}

bool DebugOutputWanted() {
    const char* value = std::getenv("QUILLET_DEBUG");
    return value != nullptr && std::string_view(value) == "1";
}

DebugSink SetDebugSink(DebugSink sink) {
    std::lock_guard lock(SinkMutex());
    return std::exchange(Sink(), std::move(sink));
}
