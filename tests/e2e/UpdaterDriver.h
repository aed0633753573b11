#pragma once

// Drives the real KestovaDesktopUpdater.exe from outside, as a user or a UI-automation tool
// would: starts the process, finds its window, reads and presses its controls, takes pictures.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/UniqueHandle.h"
#include "resources/resource.h"
#include "tests/support/Win32TestSupport.h"

namespace kdu::testing {

inline const std::wstring kProductKey = L"SOFTWARE\\Kestova\\Desktop";
inline const std::wstring kInstallPathName = L"InstallPath";

// List1's rows when a run has ended.
inline constexpr int kDoneRows = 7;    // lines 1-3, the progress row, 4, an empty row, 5
inline constexpr int kFailedRows = 5;  // lines 1-3, the progress row, 6
inline constexpr std::wstring_view kDialogClass = L"#32770";  // message boxes

// The updater as the environment names it (KDU_UPDATER_EXE).
std::wstring UpdaterExecutable();

// An application folder as users get it: the executable with data files beside it (the sample
// pair; tests write their own where it matters, and the message file).
class Deployment {
public:
    explicit Deployment(std::wstring_view folderName = L"app");
    const std::wstring& Folder() const { return folder_.Path(); }
    std::wstring Executable() const { return folder_ / L"KestovaDesktopUpdater.exe"; }
    std::wstring operator/(std::wstring_view name) const { return folder_ / name; }
    void WriteMessages(std::string_view bytes) const;

private:
    TempFolder folder_;
};

// Runs the program with arguments until it ends (60 s at most); its exit code, or STILL_ACTIVE.
// windowShown tells whether any window of it was visible at any moment.
DWORD RunToEnd(const std::wstring& executable, const std::wstring& arguments, bool& windowShown);

class UpdaterWindow {
public:
    // Starts the program, with arguments, in workingFolder (by default a folder other than its
    // own), and waits until its window is shown (Found() tells whether it was): the updater's
    // main window, or a visible window of the given class (any, if empty), such as a box.
    explicit UpdaterWindow(const std::wstring& executable, std::wstring workingFolder = {},
                           std::wstring_view windowClass = KDU_WINDOW_CLASS,
                           std::wstring_view arguments = {});
    UpdaterWindow(const UpdaterWindow&) = delete;
    UpdaterWindow& operator=(const UpdaterWindow&) = delete;
    ~UpdaterWindow();

    HWND Window() const { return window_; }
    HWND Control(int id) const { return ::GetDlgItem(window_, id); }
    bool Found() const { return window_ != nullptr; }

    std::vector<std::wstring> ListItems(int id) const;
    int ListCount(int id) const;
    std::wstring Text(HWND hwnd) const;
    bool Enabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
    RECT ClientRect() const;
    RECT ControlRect(int id) const;  // in the main window's client coordinates

    // Saves what the screen shows of the window (or of another of the program's windows, such
    // as its error box) as <KDU_SCREENSHOTS>\name.bmp.
    void SaveScreenshot(const std::wstring& name, HWND shown = nullptr) const;

    // Presses a button as a click would, without waiting for the program to handle it.
    void Click(int id) const;
    // The control that has the keyboard focus in the program, as UI-automation tools read it.
    HWND Focused() const;
    // Waits until a control has the focus (a window shown is activated a moment later).
    bool WaitForFocus(int id, DWORD milliseconds) const;
    // A key pressed and let go where the focus is, as the keyboard would deliver it.
    void PressKey(WORD virtualKey) const;
    // Waits until a control is disabled (readable while the program is busy).
    bool WaitUntilDisabled(int id, DWORD milliseconds) const;
    // Waits until the run has ended as the window shows it: no error box, 「開始更新」 disabled
    // and List1 holding at least `rows` rows (kDoneRows or kFailedRows). A window
    // that answers messages proves nothing: an error box's modal loop answers them too, and so
    // does the window all through a run.
    bool WaitUntilDone(int rows, DWORD milliseconds) const;
    int ItemHeight(int id) const;
    // How many dark pixels the screen shows in one row of a list box: works while the
    // program is busy and answers no messages.
    int RowInk(int id, int row, int itemHeight) const;

    // The program's modal error box, once it is shown; nullptr if none came in time.
    HWND WaitForErrorBox(DWORD milliseconds) const;
    // All the texts of a dialog's static controls, one after the other.
    std::wstring DialogText(HWND dialog) const;
    // Presses the box's OK button (or another) as a user would, and waits until the box is gone;
    // false if it stayed.
    bool AnswerErrorBox(HWND box, int button = IDOK) const;
    bool Running() const;
    // Sends the main window a message as the system would, and returns its answer.
    LRESULT SendToWindow(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Ends the process at once, as the task manager or a power cut would.
    void Kill();
    HANDLE Process() const { return process_.get(); }

    // Closes the window as a user would and waits for the process; its exit code.
    DWORD Close();
    // Waits for the process to end by itself; its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD milliseconds);

private:
    win32::UniqueKernelObject process_;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

}  // namespace kdu::testing
