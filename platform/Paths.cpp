#include "platform/Paths.h"

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

}  // namespace kdu
