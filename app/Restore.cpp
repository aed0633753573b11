#include "app/Restore.h"

#include "app/Failures.h"
#include "app/Texts.h"
#include "data/InstallFolder.h"
#include "update/CredentialReplacement.h"

namespace kdu {
namespace {

std::wstring Validity(const std::optional<CertificateFacts>& certificate) {
    if (!certificate) return std::wstring{texts::kNoCertificate};
    return DateText(certificate->notBefore) + std::wstring{texts::kUntil} +
           DateText(certificate->notAfter);
}

}  // namespace

std::wstring RestoreQuestionText(const std::optional<CertificateFacts>& installed,
                                 const CertificateFacts& toPutBack) {
    std::wstring text{texts::kRestoreQuestion};
    text.append(L"\n\n").append(texts::kValidity);
    text.append(L"\n").append(texts::kInstalledCertificate).append(Validity(installed));
    text.append(L"\n").append(texts::kCertificateToPutBack).append(Validity(toPutBack));
    text.append(L"\n\n").append(texts::kRestoreKeepsInstalled);
    return text;
}

QuietOutcome RestoreWithQuestion(const Services& services, RestoreDialogs& dialogs) {
    QuietOutcome outcome;
    outcome.restore = true;
    outcome.installFolder = LookUpInstallFolder(services.shell);
    if (outcome.installFolder.empty()) {
        dialogs.ShowError(SystemError{kUnknownProduct, std::wstring{texts::kInstallFolderNotFound}},
                          {});
        return outcome;
    }
    const auto paths = InstalledPaths(services.program, outcome);
    bool confirmed = false;
    bool nothingToSwap = false;
    outcome.error = FailureOf([&] {
        const auto preview = PreviewRestore(services.files, paths, services.clock.UtcSeconds());
        nothingToSwap = preview.nothingToSwap;
        if (nothingToSwap) return;
        const auto toPutBack = ReadLeafCertificate(preview.certificateToPutBack);
        if (!toPutBack) {
            throw SystemError{Failure::BackupNotAPair, paths.swaps[kCertificateSwap].backup};
        }
        confirmed = dialogs.Confirm(
            RestoreQuestionText(ReadLeafCertificate(preview.installedCertificate), *toPutBack));
        if (confirmed) {
            auto report = RestoreCredentials(services, paths);
            outcome.replaced = report.replaced;
            outcome.setAside = std::move(report.setAside);
        }
    });
    if (outcome.error) {
        dialogs.ShowError(*outcome.error, outcome.installFolder);
    } else if (nothingToSwap) {
        dialogs.Inform(texts::kNothingToSwap);
    } else if (!confirmed) {
        outcome.error = SystemError{kCancelled, L""};
    } else {
        std::wstring told{outcome.replaced ? texts::kRestored : texts::kNothingToSwap};
        if (!outcome.setAside.empty()) told.append(L"\n\n").append(SetAsideText(outcome.setAside));
        dialogs.Inform(told);
    }
    return outcome;
}

}  // namespace kdu
