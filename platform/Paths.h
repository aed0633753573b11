#pragma once

#include <string>
#include <string_view>

namespace kdu {

// A file inside a folder: the folder text, "\", then the name, by plain concatenation. A
// separator already at the end of the folder is kept, so the result may hold two in a row.
std::wstring Join(std::wstring_view folder, std::wstring_view name);

// The folder of an executable's full path: everything before the last separator, keeping the
// separator only where the folder is a drive's root ("C:\").
std::wstring FolderOf(std::wstring_view filePath);

}  // namespace kdu
