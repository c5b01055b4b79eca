// The module's only way to the host's logging entry.
//
// Log(category, format, values...) reaches the host's err with exactly the
// arguments given. The host contract allows at most nine values, each one
// 32-bit word: an integer (bytes widen to int) or a pointer to text; both
// limits are checked when the call is compiled.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/compiler.h"

// Categories of trace lines.
constexpr std::uint32_t kLogTrace = 8;
constexpr std::uint32_t kLogOpenFailure = 32;

// The host's entry: a category, a printf-style format and its values.
using HostErrFunction = int(VPI_CDECL*)(unsigned int category, const char* format, ...);

// Where log lines go. On Windows: the err imported from the host library.
// Elsewhere: the sink that the embedding program installed, or nowhere.
HostErrFunction HostErrEntry();

template <typename T>
constexpr bool kIsLogValue = (std::is_integral_v<T> && sizeof(T) <= 4) ||
                             std::is_same_v<T, const char*> || std::is_same_v<T, char*>;

template <typename... Values>
inline void Log(std::uint32_t category, const char* format, Values... values) {
    static_assert(sizeof...(Values) <= 9, "the host takes at most nine values");
    static_assert((kIsLogValue<Values> && ...), "log values are 32-bit integers or texts");
    HostErrFunction entry = HostErrEntry();
    if (entry != nullptr) {
        entry(category, format, values...);
    }
}
