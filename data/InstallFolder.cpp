#include "data/InstallFolder.h"

#include <exception>
#include <type_traits>

#include "platform/DecimalText.h"

namespace kdu {

std::optional<std::wstring> TextOf(const RegistryValue& value) {
    return std::visit(
        [](const auto& held) -> std::optional<std::wstring> {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::wstring>) {
                return held;
            } else if constexpr (std::is_same_v<Held, NoTextForm>) {
                return std::nullopt;
            } else {
                return DecimalText(held);
            }
        },
        value);
}

std::wstring LookUpInstallFolder(Shell& shell) noexcept {
    const std::wstring path{kInstallPathValue};
    try {
        std::unique_ptr<ShellObject> object;
        try {
            object = shell.CreateShellObject();
        } catch (const std::exception&) {
            // Only where the object cannot be made: a failure to read through it is the value's.
        }
        if (auto text = TextOf(object ? object->RegRead(path) : shell.ReadValue(path))) {
            return std::move(*text);
        }
    } catch (const std::exception&) {
    }
    return {};
}

}  // namespace kdu
