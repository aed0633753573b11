#include "app/Form1.h"

#include <exception>

#include "app/FailureReports.h"
#include "app/Failures.h"
#include "app/HeldOpen.h"
#include "app/Texts.h"
#include "data/InstallFolder.h"
#include "data/MessageFile.h"
#include "platform/DecimalText.h"
#include "platform/Paths.h"
#include "update/CredentialReplacement.h"
#include "update/PackageDigests.h"

namespace kdu {
namespace {

// Runs one step; a step that fails is abandoned and the next one runs, silently.
template <typename Step>
void Try(Step&& step) noexcept {
    try {
        step();
    } catch (const std::exception&) {
    }
}

constexpr int kProgressRow = 3;  // below the three introductory lines
constexpr unsigned kProgressPauseMs = 1000;

// Message lines by their 0-based position in List2.
constexpr int kClosingLine = 3;
constexpr int kClosingLine2 = 4;
constexpr int kFailureLine = 5;

std::wstring ErrorNumberText(std::uint32_t code) {
    if (code <= 0xFFFF) return DecimalText(code);
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kDigits[(code >> shift) & 0xF]);
    return text;  // an HRESULT, written as Windows writes them
}

}  // namespace

std::wstring ErrorMessageText(const SystemError& error, std::wstring_view introduction) {
    std::wstring text{introduction};
    text.append(L"\n\n").append(texts::kErrorNumber).append(ErrorNumberText(error.Code()));
    if (!error.Description().empty()) text.append(L" ").append(error.Description());
    if (!error.Path().empty()) text.append(L"\n").append(texts::kErrorFile).append(error.Path());
    if (!error.Remark().empty()) text.append(L"\n\n").append(error.Remark());
    return text;
}

bool MayHaveRefused(const ControlledFolderAccess& access, std::wstring_view installFolder) {
    constexpr std::uint32_t kBlock = 1;
    const std::uint32_t mode = access.policy.value_or(access.setting.value_or(0));
    return mode == kBlock && LiesWithinAny(installFolder, access.protectedFolders);
}

std::wstring_view AccessDeniedRemark(Rights rights, bool byControlledFolderAccess) {
    if (byControlledFolderAccess) return texts::kControlledFolderAccess;
    switch (rights) {
        case Rights::LimitedAdministrator:
            return texts::kMayNeedAdministrator;
        case Rights::StandardUser:
            return texts::kContactAdministrator;
        case Rights::Elevated:
            break;
    }
    return {};
}

Form1::Form1(Form1Controls controls, const Services& services)
    : controls_(controls), services_(services) {}

void Form1::OnLoad() {
    Try([&] { CertificateFile = texts::kCertificateFile; });
    Try([&] { PrivateKeyFile = texts::kPrivateKeyFile; });
    Try([&] { InstallFolder.clear(); });
    ReadMessageFile();
    LookUpInstallFolder();
    if (MessagesRefused) {
        Try([&] {
            controls_.List1.Append(std::wstring{texts::kChangedAfterPackagingRow} +
                                   std::wstring{kMessageFileName});
        });
        Try([&] { controls_.List1.Append(texts::kDownloadAgain); });
        Try([&] { controls_.Command1.Disable(); });
    } else if (const auto missing = MissingPackageFiles(); !missing.empty()) {
        Try([&] { controls_.List1.Append(std::wstring{texts::kPackageFilesMissing} + missing); });
        for (const auto row : texts::kExtractFirst) Try([&] { controls_.List1.Append(row); });
        Try([&] { controls_.Command1.Disable(); });
    } else if (!InstallFolder.empty()) {
        for (int line = 0; line < 3; ++line) {
            Try([&] { controls_.List1.Append(MessageLine(line)); });
        }
    } else {
        Try([&] { controls_.List1.Append(texts::kInstallFolderNotFound); });
        Try([&] { controls_.Command1.Disable(); });
    }
}

void Form1::OnCommand1Click() {
    if (started_) return;
    started_ = true;
    PairReplaced = false;
    std::vector<std::wstring> setAside;  // listed after success; a failure's box names them
    auto failure = Run(true, setAside);
    // A program that has the pair open (the product itself, most often) is named where the
    // system can tell, and the user may close it and try again, as often as it takes.
    bool told = false;
    while (failure && HeldOpen(*failure)) {
        Try([&] { controls_.Command1.Disable(); });
        bool named = false;
        failure = NameTheHolders(*failure, Paths(), services_.holders, named);
        told = !controls_.errorBox.AskToRetry(*failure, named);
        if (told) break;
        failure = Run(false, setAside);
    }
    if (failure && !told) {
        Try([&] { controls_.Command1.Disable(); });
        controls_.errorBox.Show(*failure);
    }
    RunFailure = failure;
    PairReplaced = !failure;

    if (PairReplaced) {
        Try([&] { controls_.List1.Append(MessageLine(kClosingLine)); });
        Try([&] { controls_.List1.Append(L""); });
        Try([&] { controls_.List1.Append(MessageLine(kClosingLine2)); });
        if (!setAside.empty()) Try([&] { controls_.List1.Append(SetAsideText(setAside)); });
    } else {
        Try([&] { controls_.List1.Append(MessageLine(kFailureLine)); });
    }
    // The result, selected, is what a screen reader says: rows added make no event of their own.
    Try([&] { controls_.List1.Select(controls_.List1.Count() - 1); });
    Try([&] { controls_.Command1.Disable(); });
}

std::uint32_t Form1::ExitCode() const { return RunFailure ? ExitCodeOf(*RunFailure) : 0; }

// One run, with the end of the session waiting for it, and only for it.
std::optional<SystemError> Form1::Run(bool withProgress, std::vector<std::wstring>& setAside) {
    controls_.shutdownBlock.RunStarts();
    auto failure = FailureOf([&] {
        if (withProgress) {
            for (int step = 0; step < 3; ++step) ShowProgress(step);
        }
        setAside = RunReplacement().setAside;
    });
    controls_.shutdownBlock.RunEnds();
    return failure;
}

bool Form1::HeldOpen(const SystemError& failure) {
    try {
        return HeldOpenByAnother(failure, Paths());
    } catch (const std::exception&) {
        return false;
    }
}

void Form1::ShowProgress(int step) {
    if (step == 0) {
        controls_.List1.Append(texts::kProgress[0]);
    } else {
        controls_.List1.Replace(kProgressRow, texts::kProgress[step]);
    }
    controls_.List1.Repaint();
    services_.pause.Sleep(kProgressPauseMs);
}

// Replaces the pair, one run at a time per install folder; a failed run is undone.
ReplacementReport Form1::RunReplacement() { return ReplaceCredentials(services_, Paths()); }

CredentialPaths Form1::Paths() {
    return ComposePaths(ApplicationFolder(), InstallFolder, CertificateFile, PrivateKeyFile);
}

// Worked out once; a failure is tried again by the next step that needs it.
const std::wstring& Form1::ApplicationFolder() {
    if (applicationFolder_.empty()) applicationFolder_ = FolderOf(services_.program.Path());
    return applicationFolder_;
}

void Form1::ReadMessageFile() {
    std::optional<Bytes> content;
    std::wstring path;
    Try([&] {
        path = Join(ApplicationFolder(), kMessageFileName);
        content = services_.files.ReadAll(path);
    });
    // A message file the package was not made with is not shown at all: its lines may tell the
    // user anything.
    try {
        CheckSealedMessages(services_.program, content, path);
    } catch (const SystemError&) {
        MessagesRefused = true;
        return;
    } catch (const std::exception&) {
    }
    std::vector<std::wstring> lines;
    if (content) Try([&] { lines = DecodeMessageLines(*content, services_.decoder); });
    for (const auto& line : lines) {
        Try([&] { controls_.List2.Append(line); });
    }
}

void Form1::LookUpInstallFolder() {
    Try([&] { InstallFolder = kdu::LookUpInstallFolder(services_.shell); });
}

// Explorer opens a program inside a zip by extracting it alone to a temporary folder: then the
// certificate and key are not beside it. The names of the package's files that are missing, if
// one of those two is; empty otherwise (a missing message file alone leaves three empty rows).
std::wstring Form1::MissingPackageFiles() {
    std::wstring missing;
    bool pairMissing = false;
    Try([&] {
        for (const auto name : {kNewCertificateFile, kNewPrivateKeyFile, kMessageFileName}) {
            if (services_.files.Exists(Join(ApplicationFolder(), name))) continue;
            if (name != kMessageFileName) pairMissing = true;
            if (!missing.empty()) missing += texts::kFileNameSeparator;
            missing += name;
        }
    });
    return pairMissing ? missing : std::wstring{};
}

// A message line by its 0-based position; the empty text where the file had no such line, so
// that start-up always lists exactly three rows when the product is found.
std::wstring Form1::MessageLine(int index) const {
    try {
        return index < controls_.List2.Count() ? controls_.List2.Text(index) : std::wstring{};
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace kdu
