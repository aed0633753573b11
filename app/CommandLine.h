#pragma once

// The optional command line. Without arguments the program opens its window; the switches are
// for the tools that push software to many PCs and read the exit code.

#include <string>
#include <string_view>
#include <vector>

namespace kdu {

struct CommandLine {
    enum class Mode {
        Window,   // no arguments: the window, as a user who double-clicks the program gets it
        Quiet,    // /quiet: start-up and the replacement, no window, the outcome as exit code
        Usage,    // /? or /help: the usage, exit code 0
        Invalid,  // anything else: the usage, exit code 87, nothing changed
        // Anything else, or /? or /help, beside /quiet: exit code 87 and a line in the log, with
        // no window or box at all (a deployment tool's session may have nobody to answer one).
        QuietInvalid
    };
    Mode mode = Mode::Window;
    bool restore = false;          // /restore: Window and Quiet swap the pair with its backups
    bool uninstall = false;        // /uninstall: Quiet puts back the pair from before this package
    bool closeApps = false;        // /closeapps, with /quiet only: holders of the pair are closed
    bool log = false;              // /log, with /quiet only: a log line is written
    std::wstring logFile;          // its file; empty: the log in its usual place
    std::wstring invalidArgument;  // QuietInvalid: the first argument refused, as written
};

// Switches are case-insensitive and start with "/", "-" or "--". /quiet, or any of the other ways
// installers are told to run unattended (/S, /silent, /verysilent, /qn), or /uninstall, anywhere
// rules out any window or box. /norestart and /suppressmsgboxes are accepted and change nothing.
// /log=FILE, /log:FILE and /log FILE name the log; /log alone writes it in its usual place.
CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

// The usage box's text, in Traditional Chinese and English.
inline constexpr std::wstring_view kUsage =
    L"KestovaDesktopUpdater [/restore | /uninstall] [/quiet [/closeapps] [/log[=檔案]]]\n\n"
    L"不加參數：開啟視窗，按「開始更新」更新憑證與私密金鑰。\n"
    L"/restore：換回先前的憑證與私密金鑰（Certificate.pem_old、PrivateKey.pem_old），"
    L"目前的一組則保留為備份；先詢問，按「是」才換回。\n"
    L"/quiet（或 /S、/silent、/verysilent、/qn）：不顯示視窗，直接更新（或換回）；"
    L"結束代碼 0 表示完成，1605 表示找不到安裝路徑，其他為 Windows 錯誤碼。\n"
    L"/uninstall：不顯示視窗；若安裝的是本更新套件的憑證與私密金鑰，換回先前的一組。\n"
    L"/closeapps：與 /quiet 一起使用；若有程式開著憑證或私密金鑰，先請它關閉（不強制），"
    L"更新後再重新啟動它。\n"
    L"/log=檔案：以 UTF-8 在檔案末尾加上一行結果（只寫 /log 則寫到 "
    L"%LOCALAPPDATA%\\Kestova\\Logs）。\n\n"
    L"No arguments: opens the window; 開始更新 replaces the certificate and private key.\n"
    L"/restore: swaps the installed pair with its backups (Certificate.pem_old, "
    L"PrivateKey.pem_old), after asking.\n"
    L"/quiet (or /S, /silent, /verysilent, /qn): replaces (or restores) them with no window; exit "
    L"code 0 when done, 1605 when the install folder is not recorded, otherwise the Windows "
    L"error number.\n"
    L"/uninstall: with no window, puts the previous pair back where this package's is "
    L"installed.\n"
    L"/closeapps: with /quiet, programs that have the pair open are asked to close (never "
    L"forced) and started again after the update.\n"
    L"/log=FILE: appends one line with the outcome to FILE, in UTF-8 (/log alone: to "
    L"%LOCALAPPDATA%\\Kestova\\Logs).";

}  // namespace kdu
