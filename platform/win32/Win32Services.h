#pragma once

#include "platform/Ports.h"
#include "platform/win32/LockFileRunLock.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32FileHolders.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32PairRecord.h"
#include "platform/win32/Win32Pause.h"
#include "platform/win32/Win32RunningProgram.h"
#include "platform/win32/Win32TextDecoder.h"
#include "platform/win32/WshShell.h"

namespace kdu::win32 {

// The Windows implementation of every service, made once when the program starts.
struct Win32Services {
    Win32FileSystem files;
    Win32RunningProgram program;
    Win32TextDecoder decoder;
    WshShell shell;
    Win32Pause pause;
    LockFileRunLock runLock;
    Win32Clock clock;
    Win32FileHolders holders;
    Win32PairRecord record;

    Services All() {
        return {files, program, decoder, shell, pause, runLock, clock, holders, record};
    }
};

}  // namespace kdu::win32
