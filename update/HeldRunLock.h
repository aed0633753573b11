#pragma once

#include <string>

#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// Holds the install folder's lock for as long as it lives; waits for another run to give it up
// for at most kLockWaitMs.
class HeldRunLock {
public:
    HeldRunLock(RunLock& lock, Pause& pause, const std::wstring& lockFile) : lock_(lock) {
        for (unsigned waited = 0; !lock_.TryAcquire(lockFile); waited += kLockPollMs) {
            if (waited >= kLockWaitMs) throw SystemError{Failure::AnotherRun};
            pause.Sleep(kLockPollMs);
        }
    }
    HeldRunLock(const HeldRunLock&) = delete;
    HeldRunLock& operator=(const HeldRunLock&) = delete;
    ~HeldRunLock() { lock_.Release(); }

private:
    RunLock& lock_;
};

}  // namespace kdu
