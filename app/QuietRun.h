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
    bool uninstall = false;  // /uninstall: a restore only where this package's pair is installed
    bool replaced = false;   // the run put a pair in place (else it was current: nothing to swap)
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

// The run of /uninstall: the pair from before this package put back, as /restore does it, only
// where the installed pair is this package's (data1.bin and data2.bin beside the program);
// otherwise nothing changes ("nothing to undo"). Run again, it changes nothing more.
QuietOutcome UninstallQuietly(const Services& services);

// The outcome of /quiet with an argument it does not know: nothing was run.
QuietOutcome RefusedArgument(const std::wstring& argument);

// The number of the error (from the table of FailureReports for a failure this program found
// itself; kGeneralFailure where there is none), else kUnknownProduct without an install folder,
// else 0: the pair is the new one.
std::uint32_t ExitCode(const QuietOutcome& outcome);

// The log's line for a run (without a line end): head (LogHead), install folder, outcome, and the
// error's number, description and file, separated by tabs. A run that succeeded says what it did:
// "replaced", "already current", "restored", "nothing to swap", "uninstalled" or "nothing to
// undo", so that deployment staff can count the PCs that changed. Always one line: a line break
// or tab inside a field (a system's description may end in CR LF) becomes a space.
std::wstring QuietLogLine(std::wstring_view head, const QuietOutcome& outcome);

// Who ran what, where and when: the fields each log line starts with, so that lines from a fleet
// can be told apart and counted.
struct LogContext {
    std::int64_t utcSeconds = 0;
    std::wstring computer;
    std::wstring user;     // DOMAIN\name
    std::wstring context;  // "user", "elevated" or "SYSTEM"
    std::wstring version;  // the program's
    std::wstring package;  // PackageText
};
// The time in ISO 8601 UTC ("2026-12-09T04:31:02Z"), then the other fields, separated by tabs.
std::wstring LogHead(const LogContext& context);

// The package beside the program as the log names it: the new certificate's SHA-256 (of its DER,
// as certificate tools show it) and its expiry; empty where data1.bin holds no certificate.
std::wstring PackageText(FileSystem& files, RunningProgram& program);

}  // namespace kdu
