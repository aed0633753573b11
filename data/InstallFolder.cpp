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
    try {
        const auto object = shell.CreateShellObject();
        if (auto text = TextOf(object->RegRead(std::wstring{kInstallPathValue}))) {
            return std::move(*text);
        }
    } catch (const std::exception&) {
    }
    return {};
}

}  // namespace kdu
