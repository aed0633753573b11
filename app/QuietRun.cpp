#include "app/QuietRun.h"

#include "app/FailureReports.h"
#include "app/Failures.h"
#include "app/Texts.h"
#include "data/InstallFolder.h"
#include "data/MessageFile.h"
#include "platform/DecimalText.h"
#include "platform/Paths.h"
#include "update/CredentialReplacement.h"
#include "update/PackageDigests.h"

namespace kdu {
namespace {

// A field of the log's line: no tab or line break of its own.
std::wstring Field(std::wstring_view text) {
    std::wstring field{text};
    for (auto& c : field) {
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    }
    return field;
}

// The window refuses a message file the package was not made with at start-up; so does this.
// Read only where the program carries digests: the quiet run does not otherwise need it.
void CheckMessagesQuietly(FileSystem& files, RunningProgram& program) {
    if (!ProgramDigests(program)) return;
    const auto path = Join(FolderOf(program.Path()), kMessageFileName);
    std::optional<Bytes> content;
    if (files.Exists(path)) content = files.ReadAll(path);
    CheckSealedMessages(files, program, content, path);
}

}  // namespace

CredentialPaths InstalledPaths(RunningProgram& program, const QuietOutcome& outcome) {
    return ComposePaths(FolderOf(program.Path()), outcome.installFolder, texts::kCertificateFile,
                        texts::kPrivateKeyFile);
}

QuietOutcome RunQuietly(const Services& services) {
    QuietOutcome outcome;
    outcome.installFolder = LookUpInstallFolder(services.shell);
    if (outcome.installFolder.empty()) return outcome;
    outcome.error = FailureOf([&] {
        CheckMessagesQuietly(services.files, services.program);
        auto report = ReplaceCredentials(services, InstalledPaths(services.program, outcome));
        outcome.pairUnverified = report.pairUnverified;
        outcome.replaced = report.replaced;
        outcome.setAside = std::move(report.setAside);
    });
    return outcome;
}

QuietOutcome RestoreQuietly(const Services& services) {
    QuietOutcome outcome;
    outcome.restore = true;
    outcome.installFolder = LookUpInstallFolder(services.shell);
    if (outcome.installFolder.empty()) return outcome;
    outcome.error = FailureOf([&] {
        outcome.setAside =
            RestoreCredentials(services, InstalledPaths(services.program, outcome)).setAside;
    });
    return outcome;
}

QuietOutcome RefusedArgument(const std::wstring& argument) {
    return {{}, SystemError{Failure::InvalidArgument, {}, argument}};
}

std::uint32_t ExitCode(const QuietOutcome& outcome) {
    // A failure never exits with 0, which deployment tools read as success, even where the
    // system gave no number.
    if (outcome.error) {
        const std::uint32_t code = Numbered(*outcome.error).Code();
        return code ? code : kGeneralFailure;
    }
    return outcome.installFolder.empty() ? kPathNotFound : 0;
}

std::wstring QuietLogLine(std::wstring_view time, const QuietOutcome& outcome) {
    std::wstring line{time};
    line.append(L"\t").append(Field(outcome.installFolder)).append(L"\t");
    const auto exitCode = ExitCode(outcome);
    if (exitCode == 0 && outcome.restore) {
        line.append(L"restored");
    } else if (exitCode == 0) {
        line.append(outcome.replaced ? L"replaced" : L"already current");
        if (outcome.pairUnverified) {
            line.append(L" (the key carries no public part: not compared with the certificate)");
        }
    } else if (!outcome.error) {
        line.append(L"install folder not found");
    } else {
        line.append(L"failed");
    }
    for (const auto& path : outcome.setAside) {
        line.append(L" (a stale restore file was set aside, unused: ")
            .append(Field(path))
            .append(L")");
    }
    line.append(L"\t").append(DecimalText(exitCode));
    if (outcome.error) {
        line.append(L"\t").append(Field(outcome.error->Description()));
        line.append(L"\t").append(Field(outcome.error->Path()));
        if (!outcome.error->Remark().empty()) {
            line.append(L"\t").append(Field(outcome.error->Remark()));
        }
    }
    return line;
}

}  // namespace kdu
