#pragma once

// The number and the sentence of each failure this program finds itself, in one table, free of
// Win32: the window's error box, the exit codes of /quiet and /restore and the log all take them
// from here. The Win32 layer adds only the system's description where the table has none.

#include <cstdint>
#include <string_view>

#include "platform/SystemError.h"

namespace kdu {

struct FailureReport {
    std::uint32_t code;
    std::wstring_view description;  // empty: the system's own description of code
};
FailureReport ReportOf(Failure kind);

// The failure with its number and this program's sentence, what it found after it (an internal
// error's own text, the unknown argument, dates); a system error as it is.
SystemError Numbered(const SystemError& error);

// The exit code of a run that failed so (kGeneralFailure where the system gave no number): the
// same for /quiet, /restore and the window.
std::uint32_t ExitCodeOf(const SystemError& error);

}  // namespace kdu
