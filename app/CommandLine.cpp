#include "app/CommandLine.h"

#include <algorithm>
#include <array>

namespace kdu {
namespace {

std::wstring Lowercase(std::wstring_view text) {
    std::wstring lower{text};
    for (auto& c : lower) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return lower;
}

// A switch's name without its "/", "-" or "--", lowercase; empty for anything else.
std::wstring SwitchName(std::wstring_view argument) {
    const std::size_t dashes = argument.starts_with(L"--") ? 2 : 1;
    const bool isSwitch = argument.size() > dashes &&
                          (argument[0] == L'/' || argument[0] == L'-') &&
                          (dashes == 1 || argument[0] == L'-');
    return isSwitch ? Lowercase(argument.substr(dashes)) : std::wstring{};
}

// The ways installers are told to run with no window at all: each means /quiet here.
constexpr std::array<std::wstring_view, 5> kQuietSpellings{L"quiet", L"s", L"silent", L"verysilent",
                                                           L"qn"};
// Switches deployment tools add by habit, which change nothing here.
constexpr std::array<std::wstring_view, 2> kAccepted{L"norestart", L"suppressmsgboxes"};

bool OneOf(const auto& names, std::wstring_view name) {
    return std::ranges::find(names, name) != names.end();
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLine line;
    bool quiet = false;
    bool usage = false;
    const std::wstring* refused = nullptr;  // the first argument that is no switch of ours
    const auto refuse = [&](const std::wstring& argument) {
        if (!refused) refused = &argument;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto& argument = arguments[i];
        const std::wstring name = SwitchName(argument);
        // A file name keeps its case: it is taken as written.
        const auto logFileAt = [&](std::size_t at) {
            return argument.substr(argument.size() - at);
        };
        if (name == L"?" || name == L"help") {
            usage = true;
            refuse(argument);
        } else if (OneOf(kQuietSpellings, name)) {
            quiet = true;
        } else if (name == L"uninstall") {
            line.uninstall = quiet = true;  // for deployment tools: never a window
        } else if (OneOf(kAccepted, name)) {
        } else if (name == L"restore") {
            line.restore = true;
        } else if (name == L"closeapps") {
            line.closeApps = true;
        } else if ((name.starts_with(L"log=") || name.starts_with(L"log:")) && name.size() > 4) {
            line.logFile = logFileAt(name.size() - 4);
            line.log = true;
        } else if (name == L"log") {
            // "/log FILE", or "/log" alone: the log in its usual place.
            line.log = true;
            if (i + 1 < arguments.size() && SwitchName(arguments[i + 1]).empty()) {
                line.logFile = arguments[++i];
            }
        } else {
            refuse(argument);
        }
    }
    if (quiet) {
        line.mode = refused ? CommandLine::Mode::QuietInvalid : CommandLine::Mode::Quiet;
        if (refused) line.invalidArgument = *refused;
        return line;
    }
    CommandLine plain;
    if (usage) plain.mode = CommandLine::Mode::Usage;
    if (!usage && (refused || line.log || line.closeApps)) plain.mode = CommandLine::Mode::Invalid;
    return plain.mode == CommandLine::Mode::Window ? line : plain;
}

}  // namespace kdu
