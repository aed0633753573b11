#include "platform/win32/Win32FileHolders.h"

#include <windows.h>
// after windows.h, which it needs
#include <restartmanager.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/NewerWindowsFunctions.h"

namespace kdu::win32 {
namespace {

// One Restart Manager session, ended with the object.
class RestartSession final : public HolderSession {
public:
    explicit RestartSession(const std::vector<std::wstring>& files) : rm_(RestartManager()) {
        if (!rm_.Complete()) return;
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        if (rm_.startSession(&handle_, 0, key) != ERROR_SUCCESS) return;
        open_ = true;
        std::vector<LPCWSTR> names(files.size());
        std::ranges::transform(files, names.begin(),
                               [](const std::wstring& file) { return file.c_str(); });
        registered_ = rm_.registerResources(handle_, static_cast<UINT>(names.size()), names.data(),
                                            0, nullptr, 0, nullptr) == ERROR_SUCCESS;
    }
    RestartSession(const RestartSession&) = delete;
    RestartSession& operator=(const RestartSession&) = delete;
    ~RestartSession() override {
        if (open_) rm_.endSession(handle_);
    }

    std::vector<FileHolder> Holders() override {
        std::vector<FileHolder> holders;
        if (!registered_) return holders;
        std::vector<RM_PROCESS_INFO> found;
        DWORD result = ERROR_MORE_DATA;
        // The list may grow between the call that sizes it and the one that fills it.
        for (int tries = 0; result == ERROR_MORE_DATA && tries < 4; ++tries) {
            UINT needed = 0;
            auto count = static_cast<UINT>(found.size());
            DWORD reasons = 0;
            result = rm_.getList(handle_, &needed, &count, found.data(), &reasons);
            found.resize(result == ERROR_MORE_DATA ? needed : count);
        }
        if (result != ERROR_SUCCESS) return holders;
        for (const auto& process : found) {
            const wchar_t* name =
                process.strAppName[0] ? process.strAppName : process.strServiceShortName;
            holders.push_back({name, process.Process.dwProcessId});
        }
        return holders;
    }

    // Asked as the end of the session asks them (no RmForceShutdown): a program that does not
    // agree stays open, and the call says so.
    bool AskToClose() noexcept override {
        return registered_ && rm_.shutdown(handle_, 0, nullptr) == ERROR_SUCCESS;
    }

    void RestartClosed() noexcept override {
        if (registered_) rm_.restart(handle_, 0, nullptr);
    }

private:
    const RestartManagerFunctions& rm_;
    DWORD handle_ = 0;
    bool open_ = false;
    bool registered_ = false;
};

}  // namespace

std::unique_ptr<HolderSession> Win32FileHolders::Find(const std::vector<std::wstring>& files) {
    return std::make_unique<RestartSession>(files);
}

}  // namespace kdu::win32
