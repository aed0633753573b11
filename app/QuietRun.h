#pragma once

// The run of /quiet: start-up and the replacement with no window, no message box and no pauses,
// and the same replacement as the window's, with every one of its safety rules.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ErrorNumbers.h"
#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

struct QuietOutcome {
    std::wstring installFolder;        // empty: none recorded
    std::optional<SystemError> error;  // none: the pair is the new one
    bool pairUnverified = false;       // the key could not be compared with the certificate
    bool restore = false;              // a restore (/restore) rather than an update
    bool replaced = false;  // the run put a pair in place (else it was current: nothing to swap)
    std::vector<std::wstring> setAside{};  // staged files the run set aside, unused
    std::vector<FileHolder> closed{};      // programs asked to close for the run (/closeapps)
};

// The paths of a run from the program's folder into the install folder found.
CredentialPaths InstalledPaths(RunningProgram& program, const QuietOutcome& outcome);

// The pause serves only the retries of a file step that meets a short lock, and the wait for
// another run's lock. Where another program has the pair open, the failure names it
// (Failure::HeldOpen); with closeApps (/closeapps), the programs holding it are asked to close,
// never forced, the pair is replaced, and they are started again; where one does not close,
// nothing changes.
QuietOutcome RunQuietly(const Services& services, bool closeApps = false);

// The run of /restore /quiet: the pair swapped with its backups, as RestoreCredentials does it.
QuietOutcome RestoreQuietly(const Services& services);

// The outcome of /quiet with an argument it does not know: nothing was run.
QuietOutcome RefusedArgument(const std::wstring& argument);

// The number of the error (from the table of FailureReports for a failure this program found
// itself; kGeneralFailure where there is none), else kPathNotFound without an install folder,
// else 0: the pair is the new one.
std::uint32_t ExitCode(const QuietOutcome& outcome);

// The log's line for a run (without a line end): time, install folder, outcome, and the error's
// number, description and file, separated by tabs. A run that succeeded says what it did:
// "replaced", "already current", "restored" or "nothing to swap", so that deployment staff can
// count the PCs that changed. Always one
// line: a line break or tab inside a field (a system's description may end in CR LF) becomes a
// space.
std::wstring QuietLogLine(std::wstring_view time, const QuietOutcome& outcome);

}  // namespace kdu
