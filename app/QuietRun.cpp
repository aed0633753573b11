#include "app/QuietRun.h"

#include "app/FailureReports.h"
#include "app/Failures.h"
#include "app/HeldOpen.h"
#include "app/Texts.h"
#include "data/InstallFolder.h"
#include "data/MessageFile.h"
#include "platform/DecimalText.h"
#include "platform/Paths.h"
#include "update/CredentialReplacement.h"
#include "update/FolderState.h"
#include "update/PackageDigests.h"
#include "update/PairCheck.h"
#include "update/Pem.h"

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
    CheckSealedMessages(program, content, path);
}

// The update, its report in outcome; what it failed with.
std::optional<SystemError> Replace(const Services& services, const CredentialPaths& paths,
                                   QuietOutcome& outcome) {
    return FailureOf([&] {
        CheckMessagesQuietly(services.files, services.program);
        auto report = ReplaceCredentials(services, paths);
        outcome.pairUnverified = report.pairUnverified;
        outcome.replaced = report.replaced;
        outcome.setAside = std::move(report.setAside);
    });
}

}  // namespace

CredentialPaths InstalledPaths(RunningProgram& program, const QuietOutcome& outcome) {
    return ComposePaths(FolderOf(program.Path()), outcome.installFolder, texts::kCertificateFile,
                        texts::kPrivateKeyFile);
}

QuietOutcome RunQuietly(const Services& services, bool closeApps) {
    QuietOutcome outcome;
    outcome.installFolder = LookUpInstallFolder(services.shell);
    if (outcome.installFolder.empty()) return outcome;
    CredentialPaths paths;
    outcome.error = FailureOf([&] { paths = InstalledPaths(services.program, outcome); });
    if (outcome.error) return outcome;
    outcome.error = Replace(services, paths, outcome);
    if (!outcome.error || !HeldOpenByAnother(*outcome.error, paths)) return outcome;

    // Who holds it is named in the log; with /closeapps they are asked to close, and started
    // again whatever the replacement gives: a program that closed for it must not stay closed.
    std::vector<FileHolder> holders;
    try {
        const auto session = services.holders.Find(PairFiles(paths));
        holders = session->Holders();
        if (closeApps && !holders.empty()) {
            const bool closed = session->AskToClose();
            if (closed) outcome.closed = holders;
            if (closed) outcome.error = Replace(services, paths, outcome);
            session->RestartClosed();
        }
    } catch (const std::exception&) {
        // Restart Manager is a help: without it the run fails as the files said.
    }
    if (outcome.error && HeldOpenByAnother(*outcome.error, paths)) {
        outcome.error = HeldOpenFailure(*outcome.error, holders);
    }
    return outcome;
}

QuietOutcome RestoreQuietly(const Services& services) {
    QuietOutcome outcome;
    outcome.restore = true;
    outcome.installFolder = LookUpInstallFolder(services.shell);
    if (outcome.installFolder.empty()) return outcome;
    outcome.error = FailureOf([&] {
        auto report = RestoreCredentials(services, InstalledPaths(services.program, outcome));
        outcome.replaced = report.replaced;
        outcome.setAside = std::move(report.setAside);
    });
    return outcome;
}

QuietOutcome UninstallQuietly(const Services& services) {
    QuietOutcome outcome;
    outcome.restore = outcome.uninstall = true;
    outcome.installFolder = LookUpInstallFolder(services.shell);
    if (outcome.installFolder.empty()) return outcome;
    outcome.error = FailureOf([&] {
        const auto paths = InstalledPaths(services.program, outcome);
        // Only this package's own pair is taken back: an older package's, another program's, or
        // the one a run of this uninstall already put back, stays.
        for (const auto& swap : paths.swaps) {
            if (!services.files.Exists(swap.incoming)) {
                throw SystemError{Failure::PackageFileMissing, swap.incoming};
            }
        }
        for (const auto& swap : paths.swaps) {
            const auto installed = ReadIfThere(services.files, swap.installed);
            if (installed != services.files.ReadAll(swap.incoming)) return;
        }
        auto report = RestoreCredentials(services, paths);
        outcome.replaced = report.replaced;
        outcome.setAside = std::move(report.setAside);
    });
    return outcome;
}

QuietOutcome RefusedArgument(const std::wstring& argument) {
    return {{}, SystemError{Failure::InvalidArgument, {}, argument}};
}

std::uint32_t ExitCode(const QuietOutcome& outcome) {
    if (outcome.error) return ExitCodeOf(*outcome.error);
    return outcome.installFolder.empty() ? kUnknownProduct : 0;
}

std::wstring LogHead(const LogContext& context) {
    const auto time = CivilTimeOf(context.utcSeconds);
    const auto two = [](unsigned n) { return (n < 10 ? L"0" : L"") + DecimalText(n); };
    std::wstring head = DecimalText(time.year) + L"-" + two(time.month) + L"-" + two(time.day) +
                        L"T" + two(time.hour) + L":" + two(time.minute) + L":" + two(time.second) +
                        L"Z";
    for (const auto* field :
         {&context.computer, &context.user, &context.context, &context.version, &context.package}) {
        head.append(L"\t").append(Field(*field));
    }
    return head;
}

std::wstring PackageText(FileSystem& files, RunningProgram& program) {
    try {
        const auto path = Join(FolderOf(program.Path()), kNewCertificateFile);
        if (!files.Exists(path)) return {};
        const auto bytes = files.ReadAll(path);
        const auto pem = ReadPem(bytes);  // which points into bytes
        const auto leaf = pem.blocks.empty() ? std::nullopt : DecodedBody(pem.blocks.front());
        const auto facts = leaf ? CertificateFromDer({leaf->data(), leaf->size()}) : std::nullopt;
        if (!facts) return {};
        const auto digest = Sha256Of({reinterpret_cast<const char*>(leaf->data()), leaf->size()});
        static constexpr wchar_t kDigits[] = L"0123456789abcdef";
        std::wstring text = L"SHA-256 ";
        for (const auto byte : digest) text.append({kDigits[byte >> 4], kDigits[byte & 0xF]});
        return text + L", expires " + DateText(facts->notAfter);
    } catch (const std::exception&) {
        return {};  // the log names what it can
    }
}

std::wstring QuietLogLine(std::wstring_view head, const QuietOutcome& outcome) {
    std::wstring line{head};
    line.append(L"\t").append(Field(outcome.installFolder)).append(L"\t");
    const auto exitCode = ExitCode(outcome);
    if (exitCode == 0 && outcome.uninstall) {
        line.append(outcome.replaced ? L"uninstalled" : L"nothing to undo");
    } else if (exitCode == 0 && outcome.restore) {
        line.append(outcome.replaced ? L"restored" : L"nothing to swap");
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
    for (const auto& holder : outcome.closed) {
        line.append(L" (asked to close for the run, then to start again: ")
            .append(Field(holder.name))
            .append(L", process ")
            .append(DecimalText(holder.processId))
            .append(L")");
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
