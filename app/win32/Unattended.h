#pragma once

#include <windows.h>

#include <string>

#include "app/CommandLine.h"
#include "platform/Ports.h"

namespace kdu::win32 {

// /quiet: the replacement with no window, for deployment tools; the exit code tells the outcome.
// With a log file, one UTF-8 line is appended to it; a log that cannot be written changes
// nothing else.
// With restore, the pair is swapped with its backups instead (/restore /quiet); with closeApps,
// programs that have the pair open are asked to close (/closeapps). A hidden top-level window
// is asked about the end of the session meanwhile, which waits for the run.
int RunUnattended(HINSTANCE instance, const Services& services, const CommandLine& line);

// /quiet with an argument the program does not know: no box, the log line, exit code 87.
int RefuseUnattended(const Services& services, const CommandLine& line);

// The usage box of /? and of an argument the program does not know.
void ShowUsage(bool asked);

}  // namespace kdu::win32
