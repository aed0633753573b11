#include "app/FailureReports.h"

#include <string>

#include "app/Texts.h"
#include "platform/ErrorNumbers.h"

namespace kdu {

FailureReport ReportOf(Failure kind) {
    switch (kind) {
        case Failure::System:
            break;
        case Failure::OutOfMemory:
            return {kOutOfMemory, {}};
        case Failure::Internal:
            return {kInternalError, texts::kInternalError};
        case Failure::SymbolicLink:
            return {kNotSupported, texts::kSymbolicLinkRefused};
        case Failure::HardLink:
            return {kNotSupported, texts::kHardLinkRefused};
        case Failure::NotACertificate:
            return {kInvalidData, texts::kNotACertificate};
        case Failure::NotAPrivateKey:
            return {kInvalidData, texts::kNotAPrivateKey};
        case Failure::EncryptedPrivateKey:
            return {kInvalidData, texts::kEncryptedPrivateKey};
        case Failure::NotInPackage:
            return {kDataChecksumError, texts::kNotInPackage};
        case Failure::ChangedAfterPackaging:
            return {kDataChecksumError, texts::kChangedAfterPackaging};
        case Failure::ChecksumsMalformed:
            return {kInvalidData, texts::kChecksumsMalformed};
        case Failure::TooLarge:
            return {kFileTooLarge, {}};
        case Failure::AnotherRun:
            return {kInstallAlreadyRunning, texts::kAnotherRun};
        case Failure::HeldOpen:
            return {kInstallAlreadyRunning, texts::kHeldOpen};
        case Failure::ChangedDuringRun:
            return {kInstallAlreadyRunning, texts::kChangedDuringRun};
        case Failure::InvalidArgument:
            return {kInvalidParameter, texts::kInvalidArgument};
        case Failure::KeyMismatch:
            return {kInvalidData, texts::kKeyMismatch};
        case Failure::CertificateExpired:
            return {kCertificateExpired, texts::kCertificateExpired};
        case Failure::NewerInstalled:
            return {kProductVersion, texts::kNewerInstalled};
        case Failure::PackageFileMissing:
            return {kInstallSourceAbsent, texts::kPackageFileMissing};
        case Failure::NoBackup:
            return {kNotFound, texts::kNoBackup};
        case Failure::BackupNotAPair:
            return {kInvalidData, texts::kBackupNotAPair};
        case Failure::BackupExpired:
            return {kCertificateExpired, texts::kBackupExpired};
        case Failure::PermissionsNotKept:
            return {kAccessDenied, texts::kPermissionsNotKept};
        case Failure::VirtualStoreCopy:
            return {kAlreadyExists, texts::kVirtualStoreCopy};
    }
    return {0, {}};
}

std::uint32_t ExitCodeOf(const SystemError& error) {
    // A failure never exits with 0, which deployment tools read as success, even where the
    // system gave no number.
    const std::uint32_t code = Numbered(error).Code();
    return code ? code : kGeneralFailure;
}

SystemError Numbered(const SystemError& error) {
    if (error.Kind() == Failure::System) return error;
    const FailureReport report = ReportOf(error.Kind());
    if (report.description.empty()) return error.Described(report.code, {});
    return error.Described(report.code, std::wstring{report.description} + error.Description());
}

}  // namespace kdu
