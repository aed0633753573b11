#include "update/CredentialReplacement.h"

#include <optional>

#include "platform/Paths.h"
#include "update/HeldRunLock.h"
#include "update/Leftovers.h"
#include "update/PackageCheck.h"
#include "update/PatientFileSystem.h"
#include "update/ReplacementSteps.h"

namespace kdu {

std::wstring SetAsideText(const std::vector<std::wstring>& setAside) {
    std::wstring text{kSetAside};
    for (std::size_t i = 0; i < setAside.size(); ++i) {
        if (i > 0) text += L"、";
        text += setAside[i];
    }
    return text;
}

CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile) {
    const auto swap = [&](std::wstring_view installedFile, std::wstring_view incomingFile) {
        auto installed = Join(installFolder, installedFile);
        auto backup = installed + std::wstring{kBackupSuffix};
        return Swap{std::move(installed), std::move(backup), Join(applicationFolder, incomingFile)};
    };
    return {{swap(certificateFile, kNewCertificateFile), swap(privateKeyFile, kNewPrivateKeyFile)},
            Join(applicationFolder, kChecksumsFile),
            Join(installFolder, kLockFile)};
}

ReplacementReport ReplaceCredentials(FileSystem& systemFiles, Pause& pause, RunLock& runLock,
                                     Clock& clock, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    const auto incoming = CheckPackage(files, paths, clock.UtcSeconds());
    ReplacementReport report{incoming.pairUnverified, false, {}};
    const PairContents contents{&incoming.certificate, &incoming.privateKey};
    std::optional<HeldRunLock> oneAtATime;
    try {
        oneAtATime.emplace(runLock, pause, paths.lockFile);
    } catch (const SystemError& error) {
        if (error.Kind() == Failure::AnotherRun) throw;
        // No lock file can be made: a folder this user may not write to (a product under Program
        // Files that an administrator updated), or one that is not there. Nothing could change
        // there, so there is nothing to exclude: a pair that is already the new one is what the
        // run is for, and what the files say is a better report than the lock's failure.
        if (AnyInstalls(PendingSwaps(files, paths, contents))) throw;
        return report;
    }
    report.setAside = SettleLeftovers(files, paths, CutShortRestore::RollBack).setAside;
    try {
        const auto pending =
            ChooseBackups(files, paths, contents, PendingSwaps(files, paths, contents));
        for (const auto& p : pending) {
            if (p.swap == &paths.swaps[kCertificateSwap] && p.Installs()) {
                CheckNotOlder(incoming, p.installedContent, p.swap->installed);
            }
        }
        CarryOut(files, paths, pending, kUpdateRemarks);
        report.replaced = AnyInstalls(pending);
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, report.setAside);
    }
    return report;
}

}  // namespace kdu
