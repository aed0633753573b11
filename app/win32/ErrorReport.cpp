#include "app/win32/ErrorReport.h"

#include <windows.h>
// after windows.h, which they need
#include <knownfolders.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "app/FailureReports.h"
#include "app/Form1.h"
#include "app/Texts.h"
#include "platform/win32/NewerWindowsFunctions.h"
#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32FileSystem.h"

namespace kdu::win32 {
namespace {

// A file in the install folder refused with access denied, not for being read-only: a product
// installed under Program Files, which more rights may open.
bool RightsMayHelp(const SystemError& error, const std::wstring& installFolder) {
    if (error.Kind() != Failure::System) return false;  // one this program found: said as it is
    if (error.Code() != ERROR_ACCESS_DENIED || installFolder.empty()) return false;
    if (!error.Path().starts_with(installFolder)) return false;
    const DWORD attributes = ::GetFileAttributesW(FileApiPath(error.Path()).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

// Windows Defender keeps its settings in the 64-bit registry, from which a 32-bit program's
// reads are otherwise redirected. A key this user may not read counts as not there.
constexpr wchar_t kControlledFolderAccessSettings[] =
    L"SOFTWARE\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\Controlled Folder "
    L"Access";
constexpr wchar_t kControlledFolderAccessPolicy[] =
    L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\"
    L"Controlled Folder Access";

UniqueKey OpenMachineKey(const std::wstring& key) {
    UniqueKey opened;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    opened.put());
    return opened;
}

std::optional<std::uint32_t> EnabledValue(const wchar_t* key) {
    const UniqueKey opened = OpenMachineKey(key);
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!opened || ::RegGetValueW(opened.get(), nullptr, L"EnableControlledFolderAccess",
                                  RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

// The folders an administrator added: the names of the values of the ProtectedFolders key.
void AddProtectedFolders(const wchar_t* key, std::vector<std::wstring>& folders) {
    const UniqueKey opened = OpenMachineKey(std::wstring{key} + L"\\ProtectedFolders");
    for (DWORD index = 0; opened; ++index) {
        wchar_t name[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        const LSTATUS status =
            ::RegEnumValueW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // longer than any path it could protect
        if (status != ERROR_SUCCESS) break;
        wchar_t expanded[MAX_PATH] = {};
        const DWORD size = ::ExpandEnvironmentStringsW(name, expanded, MAX_PATH);
        folders.emplace_back(size > 0 && size <= MAX_PATH ? expanded : name);
    }
}

ControlledFolderAccess ControlledFolderAccessOfThisPc() {
    ControlledFolderAccess access{EnabledValue(kControlledFolderAccessPolicy),
                                  EnabledValue(kControlledFolderAccessSettings),
                                  {}};
    if (access.policy.value_or(access.setting.value_or(0)) == 0) return access;
    // The folders it always protects, wherever they were moved (OneDrive's backup moves them).
    const KnownFolderPathFunction knownFolderPath = KnownFolderPath();
    for (const GUID* folder :
         {&FOLDERID_Documents, &FOLDERID_Pictures, &FOLDERID_Videos, &FOLDERID_Music,
          &FOLDERID_Desktop, &FOLDERID_Favorites, &FOLDERID_PublicDocuments,
          &FOLDERID_PublicPictures, &FOLDERID_PublicVideos, &FOLDERID_PublicMusic,
          &FOLDERID_PublicDesktop}) {
        UniqueCoTaskText path;
        if (knownFolderPath && SUCCEEDED(knownFolderPath(*folder, 0, nullptr, path.put()))) {
            access.protectedFolders.emplace_back(path.get());
        }
    }
    AddProtectedFolders(kControlledFolderAccessSettings, access.protectedFolders);
    AddProtectedFolders(kControlledFolderAccessPolicy, access.protectedFolders);
    return access;
}

// An administrator's token is limited until elevated; a standard user's is the default kind and
// not elevated (as is an administrator's with User Account Control off, but elevated).
Rights RightsOfThisProcess() {
    UniqueKernelObject owner;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, owner.put())) {
        return Rights::LimitedAdministrator;
    }
    const HANDLE token = owner.get();
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size) ||
        !::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
        return Rights::LimitedAdministrator;
    }
    if (type == TokenElevationTypeLimited) return Rights::LimitedAdministrator;
    return elevation.TokenIsElevated ? Rights::Elevated : Rights::StandardUser;
}

}  // namespace

SystemError ForTheUser(const SystemError& error) { return Described(Numbered(error)); }

}  // namespace kdu::win32

namespace kdu::win32 {

SystemError ForTheUser(const SystemError& error, const std::wstring& installFolder) {
    SystemError described = ForTheUser(error);
    if (described.Remark().empty() && RightsMayHelp(described, installFolder)) {
        const bool byControlledFolderAccess =
            MayHaveRefused(ControlledFolderAccessOfThisPc(), installFolder);
        described = described.Remarked(
            std::wstring{AccessDeniedRemark(RightsOfThisProcess(), byControlledFolderAccess)});
    }
    return described;
}

}  // namespace kdu::win32
