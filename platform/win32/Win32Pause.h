#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// Waits, answering the messages sent to the thread's windows and painting them, and taking no
// input: the window stays responsive and painted, and nothing the user does starts anything.
// While messages are held, it waits without looking at the queue at all.
//
// Once the session ends (EndOfSession, from WM_ENDSESSION), a wait ends the run: it throws
// ERROR_SHUTDOWN_IN_PROGRESS, and the run changes nothing more. A wait that answers messages is
// never inside a change (messages are held there), so whenever the end of the session is
// answered, no rename is half done.
class Win32Pause final : public Pause {
public:
    void Sleep(unsigned milliseconds) override;
    void HoldMessages(bool held) override;

    // The session is ending: Windows may end the process once WM_ENDSESSION is answered.
    static void EndOfSession() noexcept;
    static bool SessionEnding() noexcept;

private:
    int held_ = 0;
};

}  // namespace kdu::win32
