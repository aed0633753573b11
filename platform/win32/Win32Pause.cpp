#include "platform/win32/Win32Pause.h"

#include <windows.h>

namespace kdu::win32 {

void Win32Pause::Sleep(unsigned milliseconds) {
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
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                    QS_SENDMESSAGE | QS_PAINT);
    }
}

}  // namespace kdu::win32
