#pragma once

#include "platform/Ports.h"

namespace kdu::win32 {

// The programs that have files open, through Restart Manager (looked up at run time: see
// RestartManager()). Where it is missing or fails, the session names nobody and closes nothing.
class Win32FileHolders final : public FileHolders {
public:
    std::unique_ptr<HolderSession> Find(const std::vector<std::wstring>& files) override;
};

}  // namespace kdu::win32
