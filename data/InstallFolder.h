#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Ports.h"

namespace kdu {

// Where the product records its install folder, as the shell object's RegRead takes it.
inline constexpr std::wstring_view kInstallPathValue =
    L"HKEY_CURRENT_USER\\SOFTWARE\\Kestova\\Desktop\\InstallPath";

// The text of a value read from the registry: a string unchanged, a number as its decimal
// text; nothing for a value with no text form (a list of strings, raw bytes).
std::optional<std::wstring> TextOf(const RegistryValue& value);

// The install folder the product recorded, through the shell object, or read directly where the
// object cannot be created (hardening that unregisters it, endpoint protection rules, a Windows
// without the scripting components); the empty text where none is found: the value is absent
// or has no text form, or cannot be read.
std::wstring LookUpInstallFolder(Shell& shell) noexcept;

}  // namespace kdu
