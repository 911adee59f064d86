#pragma once

#include "core/DebugOutput.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

// Status codes of the routines that return one: 0 for success, the Windows E_FAIL value
// after a failure. Named apart from the Windows macros so both can live in one unit.
using TStatus = std::int32_t;
inline constexpr TStatus kStatusOk = 0;
inline constexpr TStatus kStatusFail = static_cast<TStatus>(0x80004005u);

// Writes the line a guarded routine reports when an exception escapes its body.
inline void ReportGuardedError(const char* routine) {
    DebugOutput(std::string("kvo: Error in ") + routine + " call...");
}

// Runs body; an exception that escapes it is reported as "kvo: Error in <routine>
// call..." and swallowed, and the routine's fallback is returned instead. The body's own
// result is returned otherwise. Cleanup that must run on every path belongs in RAII
// objects inside the body.
template <class Result, class Body>
Result Guard(const char* routine, Result fallback, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        try {
            ReportGuardedError(routine);
        } catch (...) {
        }
        return fallback;
    }
}

// The same for routines with no result.
template <class Body> void GuardVoid(const char* routine, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        try {
            ReportGuardedError(routine);
        } catch (...) {
        }
    }
}
