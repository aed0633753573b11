#pragma once

#include <string_view>

// The program's own fixed texts. The Chinese ones are shown to users exactly as written here.
namespace kdu::texts {

inline constexpr std::wstring_view kCaption = L"KestovaDesktopUpdater";
inline constexpr std::wstring_view kStartButton = L"開始更新";
inline constexpr std::wstring_view kInstallFolderNotFound = L"並未發現KestovaDesktop安裝路徑";
// The notice under the picture; deployment artwork, like the picture itself.
inline constexpr std::wstring_view kNotice = L"Kestova 憑證更新工具";

inline constexpr std::wstring_view kCertificateFile = L"Certificate.pem";
inline constexpr std::wstring_view kPrivateKeyFile = L"PrivateKey.pem";

}  // namespace kdu::texts
