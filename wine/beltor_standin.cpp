// Stand-in for the host's BELTOR.dll under Wine: err records every call (its
// category and the line formatted as the host would print it) into fixed
// slots, so that a test program can check the trace the real DLL wrote.
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSlots = 64;
constexpr int kLineSize = 512;

struct Call {
    unsigned int category;
    char text[kLineSize];
};

Call calls[kSlots];
int callCount = 0;
int droppedCount = 0;

}  // namespace

extern "C" {

__declspec(dllexport) int __cdecl err(unsigned int category, const char* format, ...) {
    if (callCount >= kSlots) {
        ++droppedCount;
        return 0;
    }
    Call& call = calls[callCount++];
    call.category = category;
    va_list values;
    va_start(values, format);
    std::vsnprintf(call.text, sizeof call.text, format != nullptr ? format : "(null format)",
                   values);
    va_end(values);
    return 0;
}

__declspec(dllexport) int __cdecl BeltorCallCount(void) {
    return callCount;
}

__declspec(dllexport) unsigned int __cdecl BeltorCallCategory(int index) {
    return index >= 0 && index < callCount ? calls[index].category : 0xFFFFFFFFu;
}

__declspec(dllexport) const char* __cdecl BeltorCallText(int index) {
    return index >= 0 && index < callCount ? calls[index].text : "";
}

__declspec(dllexport) int __cdecl BeltorDroppedCount(void) {
    return droppedCount;
}

__declspec(dllexport) void __cdecl BeltorClear(void) {
    callCount = 0;
    droppedCount = 0;
    std::memset(calls, 0, sizeof calls);
}
}
