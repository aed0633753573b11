#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Texts.h"
#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// The form's controls by the names the form has always given them (Form1, List1, List2,
// Command1): kept on purpose, so that the code reads against the form it was built from.
struct Form1Controls {
    ListBox& List1;  // the progress list the user reads
    ListBox& List2;  // hidden; holds the message lines
    PushButton& Command1;
    ErrorBox& errorBox;  // modal, owned by the window
    ShutdownBlock& shutdownBlock;
};

// The text of the error box for a failure, after what was being done when it failed.
std::wstring ErrorMessageText(const SystemError& error,
                              std::wstring_view introduction = texts::kErrorIntroduction);

// Who runs the program, as far as a file in the install folder refused with access denied is
// concerned.
enum class Rights {
    LimitedAdministrator,  // an administrator running unelevated (User Account Control)
    StandardUser,          // no administrator rights to be had
    Elevated,              // already all the rights there are
};

// Windows Security's Controlled Folder Access, as far as such a refusal is concerned: it denies
// writes of programs it does not know in the folders it protects, whoever runs them.
struct ControlledFolderAccess {
    std::optional<std::uint32_t> policy;   // EnableControlledFolderAccess set by a group policy
    std::optional<std::uint32_t> setting;  // the same value as Windows Security sets it
    std::vector<std::wstring> protectedFolders;  // the known folders and those an admin added
};

// Whether it may be what refused a file in installFolder: on, blocking (1, not an audit mode;
// the policy's value rules where there is one), and the folder lies in one it protects.
bool MayHaveRefused(const ControlledFolderAccess& access, std::wstring_view installFolder);

// What the error box adds to such a refusal: how an administrator lets the program through
// Controlled Folder Access where that may have refused it; else how to run the program elevated,
// whom to ask, or nothing where more rights would not help.
std::wstring_view AccessDeniedRemark(Rights rights, bool byControlledFolderAccess = false);

// The main window's state and its event handlers, free of any window toolkit.
class Form1 {
public:
    Form1(Form1Controls controls, const Services& services);

    // Start-up, run once before the window is first shown. A step that fails is skipped and
    // the next one runs: the window always opens, Ready or Not found; or, where data1.bin or
    // data2.bin is not beside the program, listing the package's missing files, with the button
    // disabled.
    void OnLoad();

    // The start button: three seconds of growing progress row, then the replacement run.
    // A failure is shown in the error box and ends in message line 6; either way the button
    // is disabled afterwards (before the error box shows). Where another program has the pair
    // open, the box names it and offers 重試, which runs the replacement again (without the
    // progress), as often as the user asks. A click while a run is under way, as one posted
    // while a box is open, is ignored. The end of the session waits for the run, never for a box.
    void OnCommand1Click();

    // The program's exit code: 0, or the number of the failure a run ended with, as /quiet gives
    // it.
    std::uint32_t ExitCode() const;

    // Window-level fields.
    std::wstring CertificateFile;
    std::wstring PrivateKeyFile;
    std::wstring InstallFolder;    // empty: no install folder was found
    bool PairReplaced = false;     // the run installed the new pair (a failed run is undone)
    bool MessagesRefused = false;  // data3.bin is not the package's: nothing may run
    std::optional<SystemError> RunFailure;  // what the last run failed with

private:
    const std::wstring& ApplicationFolder();
    void ReadMessageFile();
    void LookUpInstallFolder();
    std::wstring MissingPackageFiles();
    void ShowProgress(int step);
    std::optional<SystemError> Run(bool withProgress, std::vector<std::wstring>& setAside);
    bool HeldOpen(const SystemError& failure);
    ReplacementReport RunReplacement();
    CredentialPaths Paths();
    std::wstring MessageLine(int index) const;

    std::wstring applicationFolder_;  // where the program and its package lie
    Form1Controls controls_;
    Services services_;
    bool started_ = false;  // a click runs once; one delivered during the run is ignored
};

}  // namespace kdu
