#include "platform/Paths.h"

#include <algorithm>

namespace kdu {

std::wstring Join(std::wstring_view folder, std::wstring_view name) {
    std::wstring path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(L"\\").append(name);
    return path;
}

std::wstring FolderOf(std::wstring_view filePath) {
    const auto separator = filePath.find_last_of(L"\\/");
    if (separator == std::wstring_view::npos) return {};
    const bool isDriveRoot = separator == 2 && filePath[1] == L':';
    return std::wstring{filePath.substr(0, isDriveRoot ? separator + 1 : separator)};
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring_view WithoutTrailingSeparators(std::wstring_view path) {
    while (!path.empty() && IsSeparator(path.back())) path.remove_suffix(1);
    return path;
}

wchar_t FoldedAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; }

}  // namespace

bool LiesWithin(std::wstring_view path, std::wstring_view folder) {
    folder = WithoutTrailingSeparators(folder);
    if (folder.empty() || path.size() < folder.size()) return false;
    const bool samePrefix =
        std::equal(folder.begin(), folder.end(), path.begin(), [](wchar_t a, wchar_t b) {
            return FoldedAscii(a) == FoldedAscii(b) || (IsSeparator(a) && IsSeparator(b));
        });
    return samePrefix && (path.size() == folder.size() || IsSeparator(path[folder.size()]));
}

bool LiesWithinAny(std::wstring_view path, std::span<const std::wstring> folders) {
    return std::ranges::any_of(
        folders, [&](const std::wstring& folder) { return LiesWithin(path, folder); });
}

std::wstring VirtualStorePathOf(std::wstring_view path, std::wstring_view localAppData,
                                std::span<const std::wstring> virtualizedFolders) {
    const bool onADrive = path.size() > 3 && path[1] == L':' && IsSeparator(path[2]);
    if (!onADrive || localAppData.empty() || !LiesWithinAny(path, virtualizedFolders)) return {};
    return Join(WithoutTrailingSeparators(localAppData), L"VirtualStore") +
           std::wstring{path.substr(2)};
}

}  // namespace kdu
