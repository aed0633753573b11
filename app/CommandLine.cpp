#include "app/CommandLine.h"

namespace kdu {
namespace {

std::wstring Lowercase(std::wstring_view text) {
    std::wstring lower{text};
    for (auto& c : lower) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return lower;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLine line;
    bool quiet = false;
    bool usage = false;
    const std::wstring* refused = nullptr;  // the first argument that is no switch of ours
    for (const auto& argument : arguments) {
        const std::wstring name =
            argument.size() >= 2 && (argument[0] == L'/' || argument[0] == L'-')
                ? Lowercase(std::wstring_view{argument}.substr(1))
                : std::wstring{};
        if (name == L"?" || name == L"help") {
            usage = true;
            if (!refused) refused = &argument;
        } else if (name == L"quiet") {
            quiet = true;
        } else if (name == L"restore") {
            line.restore = true;
        } else if (name == L"closeapps") {
            line.closeApps = true;
        } else if (name.starts_with(L"log=") && argument.size() > 5) {
            line.logFile = argument.substr(5);  // as written: a file name keeps its case
        } else if (!refused) {
            refused = &argument;
        }
    }
    if (quiet) {
        line.mode = refused ? CommandLine::Mode::QuietInvalid : CommandLine::Mode::Quiet;
        if (refused) line.invalidArgument = *refused;
        return line;
    }
    CommandLine plain;
    if (usage) plain.mode = CommandLine::Mode::Usage;
    if (!usage && (refused || !line.logFile.empty() || line.closeApps)) {
        plain.mode = CommandLine::Mode::Invalid;
    }
    return plain.mode == CommandLine::Mode::Window ? line : plain;
    return line;
}

}  // namespace kdu
