#pragma once

#include <string_view>

// The program's own fixed texts. The Chinese ones are shown to users exactly as written here.
namespace kdu::texts {

inline constexpr std::wstring_view kCaption = L"KestovaDesktopUpdater";
inline constexpr std::wstring_view kStartButton = L"開始更新";
inline constexpr std::wstring_view kInstallFolderNotFound = L"並未發現KestovaDesktop安裝路徑";
// The notice under the picture; deployment artwork, like the picture itself.
inline constexpr std::wstring_view kNotice = L"Kestova 憑證更新工具";

// The progress row, growing once a second while the update waits to start.
inline constexpr std::wstring_view kProgress[] = {L"更新中...", L"更新中... ...",
                                                  L"更新中... ... ..."};

// The error box: what failed, the system's number and description, and the file.
inline constexpr std::wstring_view kErrorIntroduction = L"更新時發生錯誤。";
inline constexpr std::wstring_view kErrorNumber = L"錯誤碼：";
inline constexpr std::wstring_view kErrorFile = L"檔案：";
// Added to the error box when a file in the install folder was refused with access denied and
// the program runs without administrator rights.
inline constexpr std::wstring_view kMayNeedAdministrator =
    L"安裝資料夾可能需要系統管理員權限才能變更。請在本程式上按滑鼠右鍵，選擇「以系統管理員身分執行"
    L"」，再試一次。";

inline constexpr std::wstring_view kCertificateFile = L"Certificate.pem";
inline constexpr std::wstring_view kPrivateKeyFile = L"PrivateKey.pem";

}  // namespace kdu::texts
