#include "app/Form1.h"

#include <exception>

#include "app/Texts.h"
#include "data/InstallFolder.h"
#include "data/MessageFile.h"
#include "platform/Paths.h"

namespace kdu {
namespace {

// Runs one start-up step; a step that fails is abandoned and start-up goes on, silently.
template <typename Step>
void Try(Step&& step) noexcept {
    try {
        step();
    } catch (const std::exception&) {
    }
}

}  // namespace

Form1::Form1(Form1Controls controls, Form1Services services)
    : controls_(controls), services_(services) {}

void Form1::OnLoad() {
    Try([&] { CertificateFile = texts::kCertificateFile; });
    Try([&] { PrivateKeyFile = texts::kPrivateKeyFile; });
    Try([&] { InstallFolder.clear(); });
    ReadMessageFile();
    LookUpInstallFolder();
    if (!InstallFolder.empty()) {
        for (int line = 0; line < 3; ++line) {
            Try([&] { controls_.List1.Append(MessageLine(line)); });
        }
    } else {
        Try([&] { controls_.List1.Append(texts::kInstallFolderNotFound); });
        Try([&] { controls_.Command1.Disable(); });
    }
}

void Form1::ReadMessageFile() {
    std::wstring path;
    std::vector<std::wstring> lines;
    Try([&] { path = Join(FolderOf(services_.files.ExecutablePath()), kMessageFileName); });
    Try([&] { lines = DecodeMessageLines(services_.files.ReadAll(path), services_.decoder); });
    for (const auto& line : lines) {
        Try([&] { controls_.List2.Append(line); });
    }
}

void Form1::LookUpInstallFolder() {
    std::unique_ptr<ShellObject> shell;
    Try([&] { shell = services_.shell.CreateShellObject(); });
    Try([&] {
        if (!shell) return;
        if (auto text = TextOf(shell->RegRead(std::wstring{kInstallPathValue}))) {
            InstallFolder = std::move(*text);
        }
    });
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
