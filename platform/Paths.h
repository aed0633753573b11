#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kdu {

// A file inside a folder: the folder text, "\", then the name, by plain concatenation. A
// separator already at the end of the folder is kept, so the result may hold two in a row.
std::wstring Join(std::wstring_view folder, std::wstring_view name);

// The folder of an executable's full path: everything before the last separator, keeping the
// separator only where the folder is a drive's root ("C:\").
std::wstring FolderOf(std::wstring_view filePath);

// Whether path is folder or lies inside it. Letters are compared as Windows compares file names
// for ASCII (a known folder and a path another program recorded may differ in case); a
// separator at the end of either is no part of the name.
bool LiesWithin(std::wstring_view path, std::wstring_view folder);
bool LiesWithinAny(std::wstring_view path, std::span<const std::wstring> folders);

// Where User Account Control keeps this user's copy of a file that a program without a manifest
// wrote in one of the folders it virtualizes (Program Files, Windows, ProgramData): below
// localAppData's VirtualStore, the path without its drive. Such a program reads that copy
// instead of the file as long as it exists. Empty where path lies in no such folder.
std::wstring VirtualStorePathOf(std::wstring_view path, std::wstring_view localAppData,
                                std::span<const std::wstring> virtualizedFolders);

}  // namespace kdu
