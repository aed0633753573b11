#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace kdu::win32 {

std::int64_t Win32Clock::UtcSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks =
        static_cast<std::int64_t>(ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart);
    constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;  // in 100 ns
    return (ticks - kTicksFrom1601To1970) / 10000000;
}

// A look at the queue answers the messages sent to the thread's windows, and tells Windows that
// the thread is alive (it ghosts a window as not responding after 5 s without one); PM_NOREMOVE
// takes no input and dispatches nothing posted, so the window still takes no input meanwhile.

}  // namespace kdu::win32
