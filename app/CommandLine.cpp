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
    bool log = false;
    for (const auto& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
            return {CommandLine::Mode::Invalid, {}};
        }
        const std::wstring name = Lowercase(std::wstring_view{argument}.substr(1));
        if (name == L"?" || name == L"help") return {CommandLine::Mode::Usage, {}};
        if (name == L"quiet") {
            quiet = true;
        } else if (name.starts_with(L"log=") && argument.size() > 5) {
            log = true;
            line.logFile = argument.substr(5);  // as written: a file name keeps its case
        } else {
            return {CommandLine::Mode::Invalid, {}};
        }
    }
    if (log && !quiet) return {CommandLine::Mode::Invalid, {}};
    if (quiet) line.mode = CommandLine::Mode::Quiet;
    return line;
}

}  // namespace kdu
