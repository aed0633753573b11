#include "platform/win32/Win32Pause.h"

#include <windows.h>

#include "platform/win32/SystemErrors.h"

namespace kdu::win32 {
namespace {

bool sessionEnding = false;  // the program has one thread: the one that answers WM_ENDSESSION

void ThrowIfTheSessionEnds() {
    if (sessionEnding) throw ErrorFromCode(ERROR_SHUTDOWN_IN_PROGRESS);
}

}  // namespace

void Win32Pause::EndOfSession() noexcept { sessionEnding = true; }

bool Win32Pause::SessionEnding() noexcept { return sessionEnding; }

void Win32Pause::HoldMessages(bool held) { held_ += held ? 1 : -1; }

void Win32Pause::Sleep(unsigned milliseconds) {
    if (held_ > 0) {
        ::Sleep(milliseconds);
        return;
    }
    ThrowIfTheSessionEnds();
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        MSG message{};
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        // Without desktop composition (Windows 7's Basic and Classic themes, remote sessions) a
        // part of the window that another uncovers stays blank until it is painted: paint
        // messages are handled, and no input. A bounded number, in case one does not validate.
        for (int paints = 0; paints < 16 && ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT,
                                                           PM_REMOVE | PM_NOYIELD);
             ++paints) {
            ::DispatchMessageW(&message);
        }
        // A message sent meanwhile may have been the end of the session.
        ThrowIfTheSessionEnds();
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                    QS_SENDMESSAGE | QS_PAINT);
    }
}

}  // namespace kdu::win32
