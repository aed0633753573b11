#pragma once

#include <string_view>

// The program's own fixed texts. The Chinese ones are shown to users exactly as written here.
namespace kdu::texts {

inline constexpr std::wstring_view kCaption = L"KestovaDesktopUpdater";
inline constexpr std::wstring_view kStartButton = L"開始更新";
// What Windows shows for the program while a run makes the end of the session wait.
inline constexpr std::wstring_view kRunBlocksShutdown =
    L"正在更新 KestovaDesktop 的憑證與私密金鑰，請稍候";
// What screen readers call List1.
inline constexpr std::wstring_view kList1Name = L"更新訊息";
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
// Added to the error box when a file in the install folder was refused with access denied: for an
// administrator whose rights are limited until elevated, how to run the program elevated; for a
// standard user, whom to ask.
inline constexpr std::wstring_view kMayNeedAdministrator =
    L"安裝資料夾可能需要系統管理員權限才能變更。請在本程式上按滑鼠右鍵，選擇「以系統管理員身分執行"
    L"」，再試一次。";
inline constexpr std::wstring_view kContactAdministrator =
    L"安裝資料夾需要系統管理員權限才能變更，而您的帳戶沒有這個權限。請聯絡系統管理員，"
    L"由系統管理員執行本程式。";
// Instead of those where Windows Security's Controlled Folder Access may have refused the file:
// more rights do not help there; an administrator lets the program through.
inline constexpr std::wstring_view kControlledFolderAccess =
    L"安裝資料夾位於 Windows 安全性的「受控資料夾存取」所保護的資料夾中，Windows 因此不允許本程式"
    L"變更其中的檔案；以系統管理員身分執行也無法解決。請系統管理員在「Windows 安全性」>「病毒與"
    L"威脅防護」>「勒索軟體防護」>「受控資料夾存取」中，將本程式加入允許的應用程式，再試一次。";

// Listed instead of the introductory lines when data1.bin or data2.bin is not beside the program,
// as when it is opened from inside the downloaded zip: the missing files, then what to do.
inline constexpr std::wstring_view kPackageFilesMissing = L"找不到更新套件中的檔案：";
inline constexpr std::wstring_view kFileNameSeparator = L"、";
inline constexpr std::wstring_view kExtractFirst[] = {
    L"請先將下載的壓縮檔（ZIP）全部解壓縮到一個資料夾，", L"再從該資料夾執行本程式。"};

// Listed instead of the introductory lines when data3.bin is not the message file the package was
// made with: the file, then what to do.
inline constexpr std::wstring_view kChangedAfterPackagingRow = L"更新套件製作之後被變更過的檔案：";
inline constexpr std::wstring_view kDownloadAgain = L"請重新下載完整的更新套件。";

// The descriptions of failures this program finds itself, where the system's own text would not
// explain them. Shown after the error number, like the system's.
inline constexpr std::wstring_view kSymbolicLinkRefused =
    L"此檔案是符號連結（symbolic "
    L"link）。本程式不更新符號連結，以免只換掉連結而未換掉它所指的檔案。";
inline constexpr std::wstring_view kHardLinkRefused =
    L"此檔案有多個硬式連結（hard link）。替換它會讓其他名稱仍保留舊的內容，因此本程式不更新它。";
inline constexpr std::wstring_view kNotACertificate =
    L"此檔案不是 PEM 格式的憑證（CERTIFICATE），無法用來更新。請重新下載完整的更新套件。";
inline constexpr std::wstring_view kNotAPrivateKey =
    L"此檔案不是 PEM 格式的私密金鑰（PRIVATE KEY），無法用來更新。請重新下載完整的更新套件。";
inline constexpr std::wstring_view kEncryptedPrivateKey =
    L"此私密金鑰已用密碼加密，KestovaDesktop 無法使用，因此本程式不安裝它。";
inline constexpr std::wstring_view kNotInPackage =
    L"此檔案不屬於這個更新套件：它與 SHA256SUMS 所列的不符。請重新下載完整的更新套件，"
    L"並只使用同一次下載的檔案。";
// A data file that does not match the digest the package builder wrote into the program.
inline constexpr std::wstring_view kChangedAfterPackaging =
    L"此檔案在更新套件製作之後被變更過，與本程式內記錄的內容不符。請重新下載完整的更新套件。";
inline constexpr std::wstring_view kChecksumsMalformed =
    L"更新套件的 SHA256SUMS 無法讀取或格式不正確，因此無法確認套件完整。請重新下載完整的更新套件。";
inline constexpr std::wstring_view kAnotherRun =
    L"另一個更新程式正在更新 KestovaDesktop 的憑證與私密金鑰，等候 30 "
    L"秒後仍未結束。本程式未做任何變更；"
    L"請等它完成後再試一次。";
// A file of the pair that another program changed while the run worked (the product renewing its
// own pair, a file push, a sync client): the run changed nothing.
inline constexpr std::wstring_view kChangedDuringRun =
    L"另一個程式在本程式更新期間變更了此檔案（例如 KestovaDesktop 自行更新了憑證，或同步程式寫入了"
    L"它）。本程式未做任何變更；請稍後再試一次。";
// A file of the pair (or a backup) that another program has open, so that it cannot be replaced:
// the programs Restart Manager names follow (kHeldBy, each name with its process number).
inline constexpr std::wstring_view kHeldOpen =
    L"另一個程式開著此檔案，本程式無法替換它。憑證與私密金鑰都沒有變更。";
inline constexpr std::wstring_view kHeldBy = L"開著它的程式：";
inline constexpr std::wstring_view kProcessNumber = L"（處理程序識別碼 ";
inline constexpr std::wstring_view kProcessNumberEnd = L"）";
// What the box that offers 重試 and 取消 asks of the user: with the programs named, or without.
inline constexpr std::wstring_view kCloseHoldersAndRetry =
    L"請先關閉上面列出的程式，再按「重試」。按「取消」則結束，不做任何變更。";
inline constexpr std::wstring_view kCloseProductAndRetry =
    L"請先關閉 KestovaDesktop（以及其他可能開著此檔案的程式），再按「重試」。"
    L"按「取消」則結束，不做任何變更。";
// The key, the certificate and the installed certificate, as they are checked before any
// change: the certificate's file, the expiry date, and the two start dates follow.
inline constexpr std::wstring_view kKeyMismatch =
    L"此私密金鑰與憑證不成一組（兩者的公開金鑰不同），KestovaDesktop 無法使用。"
    L"請重新下載完整的更新套件。憑證檔案：";
inline constexpr std::wstring_view kCertificateExpired =
    L"此憑證已過期，KestovaDesktop 無法使用，因此本程式不安裝它。請向客服索取新的更新套件。"
    L"到期日（UTC）：";
inline constexpr std::wstring_view kNewerInstalled =
    L"已安裝的憑證比更新套件中的憑證新，本程式不以較舊的憑證取代它。"
    L"生效日（UTC），已安裝的／更新套件中的：";
// data1.bin or data2.bin not beside the program when the run reads it.
inline constexpr std::wstring_view kPackageFileMissing =
    L"找不到更新套件中的這個檔案。請將下載的壓縮檔（ZIP）全部解壓縮到一個資料夾，再從該資料夾執行本"
    L"程式。";
// A backup to put back that is not there.
inline constexpr std::wstring_view kNoBackup =
    L"找不到備份檔案，因此沒有可換回的憑證與私密金鑰。本程式未做任何變更。";
inline constexpr std::wstring_view kBackupNotAPair =
    L"備份的憑證與私密金鑰（_old）不是 KestovaDesktop 可用的一組（不是憑證或私密金鑰，"
    L"或兩者的公開金鑰不同），因此本程式不換回它們。本程式未做任何變更。";
inline constexpr std::wstring_view kBackupExpired =
    L"備份的憑證已過期，換回後 KestovaDesktop 也無法使用，因此本程式不換回它。"
    L"本程式未做任何變更。到期日（UTC）：";
// A file with permissions of its own, in a folder (a network share, a NAS) that does not let this
// program give a new file the same: the key must not become readable by more people.
inline constexpr std::wstring_view kPermissionsNotKept =
    L"此檔案有自己的存取權限，但它所在的資料夾（例如網路共用資料夾或 NAS）不允許本程式為新檔案設定"
    L"同樣的權限。為了不讓憑證或私密金鑰被更多人讀取，本程式未做任何變更。請聯絡系統管理員。";
// A copy of an installed file in this user's VirtualStore, which KestovaDesktop reads instead.
// Which pair it uses, and whether a copy holds the only copy of a key, is for a person to tell.
inline constexpr std::wstring_view kVirtualStoreCopy =
    L"Windows 在 VirtualStore 中另存了安裝資料夾中這個檔案的複本，KestovaDesktop 讀取的是這個複本，"
    L"而不是安裝資料夾中的檔案，因此更新不會改變它使用的憑證與私密金鑰。本程式未做任何變更。"
    L"請聯絡技術支援；複本中可能有唯一的一份私密金鑰，請勿刪除它。";
// /quiet with an argument this program does not know: the argument follows.
inline constexpr std::wstring_view kInvalidArgument = L"無法辨識的參數：";
// Any other exception: a fault of this program, with the exception's own text after this.
inline constexpr std::wstring_view kInternalError = L"本程式發生內部錯誤：";

// /restore: the question before anything changes, the validity of the two certificates (under
// kValidity, each a date, kUntil and a date), and what it says when done.
inline constexpr std::wstring_view kRestoreQuestion = L"要換回先前的憑證與私密金鑰嗎？";
inline constexpr std::wstring_view kInstalledCertificate = L"目前的憑證：";
inline constexpr std::wstring_view kCertificateToPutBack = L"換回的憑證：";
inline constexpr std::wstring_view kValidity = L"有效期間（UTC）：";
inline constexpr std::wstring_view kUntil = L" 至 ";
inline constexpr std::wstring_view kNoCertificate = L"無法讀取";
inline constexpr std::wstring_view kRestoreKeepsInstalled =
    L"換回後，目前的憑證與私密金鑰會保留為 Certificate.pem_old 與 PrivateKey.pem_old；"
    L"再執行一次 /restore 即可再換回來。";
inline constexpr std::wstring_view kRestored =
    L"已換回先前的憑證與私密金鑰。原本的一組已保留為 Certificate.pem_old 與 PrivateKey.pem_old。";
inline constexpr std::wstring_view kNothingToSwap =
    L"沒有可換回的：備份（Certificate.pem_old、PrivateKey.pem_old）與目前的憑證和私密金鑰相同。"
    L"本程式未做任何變更。";
inline constexpr std::wstring_view kRestoreErrorIntroduction =
    L"換回先前的憑證與私密金鑰時發生錯誤。";

inline constexpr std::wstring_view kCertificateFile = L"Certificate.pem";
inline constexpr std::wstring_view kPrivateKeyFile = L"PrivateKey.pem";

}  // namespace kdu::texts
