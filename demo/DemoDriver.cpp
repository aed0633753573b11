// Runs KestovaDesktopUpdater.exe the way a user would and prints what happens: the install
// folder, what the window shows, and a screenshot of it; after an update, what /restore asks.
//
//   DemoDriver.exe <updater.exe> <install folder> <screenshot name>

#include <windows.h>

#include <cstdio>
#include <string>

#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"

namespace {

using kdu::testing::UpdaterWindow;

void Print(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), size,
                          nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

// A short fingerprint of a file's content (FNV-1a), to see which files changed.
std::wstring Fingerprint(const std::wstring& path) {
    std::uint32_t hash = 2166136261u;
    for (const unsigned char byte : kdu::testing::ReadFileBytes(path)) {
        hash = (hash ^ byte) * 16777619u;
    }
    wchar_t text[16];
    std::swprintf(text, 16, L"%08x", hash);
    return text;
}

void PrintFolder(const std::wstring& folder) {
    Print(L"  " + folder);
    WIN32_FIND_DATAW entry{};
    const kdu::win32::UniqueFind search{::FindFirstFileW((folder + L"\\*").c_str(), &entry)};
    if (!search) return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring name = entry.cFileName;
        Print(L"    " + name + std::wstring(22 - std::min<std::size_t>(name.size(), 21), L' ') +
              std::to_wstring(entry.nFileSizeLow) + L" bytes  fingerprint " +
              Fingerprint(folder + L"\\" + name));
    } while (::FindNextFileW(search.get(), &entry));
}

void PrintWindow(const UpdaterWindow& window) {
    Print(L"  caption:  " + window.Text(window.Window()));
    Print(L"  List1:");
    for (const auto& row : window.ListItems(IDC_LIST1)) Print(L"    | " + row);
    Print(L"  Command1: \u300C" + window.Text(window.Control(IDC_COMMAND1)) + L"\u300D " +
          (window.Enabled(IDC_COMMAND1) ? L"enabled" : L"disabled"));
}

// What /restore asks in the window form, after an update made the backups; answered 否, so that
// nothing changes.
bool ShowRestoreQuestion(const std::wstring& updater, const std::wstring& screenshotName) {
    Print(L"Starting it again with /restore...");
    UpdaterWindow question{updater, {}, kdu::testing::kDialogClass, L"/restore"};
    if (!question.Found()) {
        Print(L"The question did not appear.");
        return false;
    }
    Print(L"It asks: " + question.DialogText(question.Window()));
    question.SaveScreenshot(screenshotName + L"-restore-question", question.Window());
    question.AnswerErrorBox(question.Window(), IDNO);
    const DWORD code = question.WaitForExit(20000);
    Print(L"Answered \u5426: it ended with exit code " + std::to_wstring(code) +
          L" (ERROR_CANCELLED).");
    return code == ERROR_CANCELLED;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        Print(L"usage: DemoDriver.exe <updater.exe> <install folder> <screenshot name>");
        return 2;
    }
    try {
        Print(L"Install folder:");
        PrintFolder(argv[2]);
        UpdaterWindow window{argv[1]};
        if (!window.Found()) {
            Print(L"The window did not open.");
            return 1;
        }
        Print(L"The window shows:");
        PrintWindow(window);
        window.SaveScreenshot(std::wstring{argv[3]} + L"-ready");

        Print(L"Pressing \u300C\u958B\u59CB\u66F4\u65B0\u300D...");
        const ULONGLONG clicked = ::GetTickCount64();
        window.Click(IDC_COMMAND1);
        // The run ends in the closing lines, or in an error box and then line 6.
        int endRows = kdu::testing::kDoneRows;
        while (!window.WaitUntilDone(endRows, 20)) {
            if (const HWND box = window.WaitForErrorBox(20)) {
                Print(L"The error box says: " + window.DialogText(box));
                window.SaveScreenshot(std::wstring{argv[3]} + L"-error", box);
                window.AnswerErrorBox(box);
                endRows = kdu::testing::kFailedRows;
            }
            if (::GetTickCount64() - clicked > 60000) {
                Print(L"The run did not end within a minute.");
                return 1;
            }
        }
        Print(L"The run ended " + std::to_wstring(::GetTickCount64() - clicked) +
              L" ms after the click.");
        Print(L"The window shows:");
        PrintWindow(window);
        window.SaveScreenshot(std::wstring{argv[3]} + L"-done");
        Print(L"Install folder afterwards:");
        PrintFolder(argv[2]);
        // Closed, the window ends with the failure's number, as the box gave it, or 0.
        const DWORD exitCode = window.Close();
        Print(L"Closed, it ended with exit code " + std::to_wstring(exitCode) + L".");
        if (endRows != kdu::testing::kDoneRows)
            return exitCode != 0 && exitCode != STILL_ACTIVE ? 0 : 1;
        if (exitCode != 0) return 1;
        if (!ShowRestoreQuestion(argv[1], argv[3])) return 1;
        Print(L"Install folder afterwards:");
        PrintFolder(argv[2]);
        return 0;
    } catch (const kdu::SystemError& error) {
        Print(L"error " + std::to_wstring(error.Code()) + L": " + error.Description() + L" " +
              error.Path());
        return 1;
    }
}
