#include "app/win32/ErrorReport.h"

#include <windows.h>

#include <string_view>

#include "app/FailureReports.h"
#include "app/Form1.h"
#include "app/Texts.h"
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
        described = described.Remarked(std::wstring{AccessDeniedRemark(RightsOfThisProcess())});
    }
    return described;
}

}  // namespace kdu::win32
