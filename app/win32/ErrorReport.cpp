#include "app/win32/ErrorReport.h"

#include <windows.h>

#include <string_view>

#include "app/Form1.h"
#include "app/Texts.h"
#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32FileSystem.h"

namespace kdu::win32 {
namespace {

// ERROR_DATA_CHECKSUM_ERROR, which older SDK headers lack: for deployment tools, an exit code
// of its own for a file that is not the package's.
constexpr DWORD kDataChecksumError = 323;
// CERT_E_EXPIRED, an HRESULT, as certificate tools report an expired certificate.
constexpr DWORD kCertificateExpired = 0x800B0101;
// ERROR_PRODUCT_VERSION: Windows Installer's "another version of this product is installed".
constexpr DWORD kProductVersion = 1638;

struct Report {
    DWORD code;
    std::wstring_view description;  // empty: the system's own
};

Report ReportOf(Failure kind) {
    switch (kind) {
        case Failure::System:
            break;
        case Failure::OutOfMemory:
            return {ERROR_OUTOFMEMORY, {}};
        case Failure::Internal:
            return {ERROR_INTERNAL_ERROR, texts::kInternalError};
        case Failure::SymbolicLink:
            return {ERROR_NOT_SUPPORTED, texts::kSymbolicLinkRefused};
        case Failure::HardLink:
            return {ERROR_NOT_SUPPORTED, texts::kHardLinkRefused};
        case Failure::NotACertificate:
            return {ERROR_INVALID_DATA, texts::kNotACertificate};
        case Failure::NotAPrivateKey:
            return {ERROR_INVALID_DATA, texts::kNotAPrivateKey};
        case Failure::EncryptedPrivateKey:
            return {ERROR_INVALID_DATA, texts::kEncryptedPrivateKey};
        case Failure::NotInPackage:
            return {kDataChecksumError, texts::kNotInPackage};
        case Failure::ChangedAfterPackaging:
            return {kDataChecksumError, texts::kChangedAfterPackaging};
        case Failure::ChecksumsMalformed:
            return {ERROR_INVALID_DATA, texts::kChecksumsMalformed};
        case Failure::TooLarge:
            return {ERROR_FILE_TOO_LARGE, {}};
        case Failure::AnotherRun:
            return {ERROR_SHARING_VIOLATION, texts::kAnotherRun};
        case Failure::InvalidArgument:
            return {ERROR_INVALID_PARAMETER, texts::kInvalidArgument};
        case Failure::KeyMismatch:
            return {ERROR_INVALID_DATA, texts::kKeyMismatch};
        case Failure::CertificateExpired:
            return {kCertificateExpired, texts::kCertificateExpired};
        case Failure::NewerInstalled:
            return {kProductVersion, texts::kNewerInstalled};
        case Failure::BackupNotAPair:
            return {ERROR_INVALID_DATA, texts::kBackupNotAPair};
        case Failure::BackupExpired:
            return {kCertificateExpired, texts::kBackupExpired};
        case Failure::PermissionsNotKept:
            return {ERROR_ACCESS_DENIED, texts::kPermissionsNotKept};
    }
    return {0, {}};
}

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
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return Rights::LimitedAdministrator;
    }
    const UniqueKernelObject owner{token};
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

SystemError ForTheUser(const SystemError& error) {
    if (error.Kind() == Failure::System) return Described(error);
    const Report report = ReportOf(error.Kind());
    if (report.description.empty()) return error.Described(report.code, SystemMessage(report.code));
    // What the program found goes after the sentence: an internal error's own text, the unknown
    // argument, the certificate of a mismatched key, dates.
    return error.Described(report.code, std::wstring{report.description} + error.Description());
}

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
