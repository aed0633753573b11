#include "tools/package/SignCommand.h"

#include <cctype>

namespace kdu::package {
namespace {

// The length of a $f at `at` that the shell would expand as the variable f ("$f" not followed
// by a name's character, or "${f}"); 0 where there is none.
std::size_t FileReferenceAt(std::string_view command, std::size_t at) {
    const auto rest = command.substr(at);
    if (rest.starts_with("${f}")) return 4;
    if (!rest.starts_with("$f")) return 0;
    const bool longerName =
        rest.size() > 2 && (std::isalnum(static_cast<unsigned char>(rest[2])) || rest[2] == '_');
    return longerName ? 0 : 2;
}

}  // namespace

std::string ShellCommand(std::string_view command) {
    std::string shell;
    char quote = 0;  // the quote the text at hand is within, if any
    for (std::size_t at = 0; at < command.size(); ++at) {
        const char c = command[at];
        if (const auto reference = quote == '\'' ? 0 : FileReferenceAt(command, at)) {
            shell += quote == '"' ? "${KESTOVA_SIGN_FILE}" : "\"${KESTOVA_SIGN_FILE}\"";
            at += reference - 1;
            continue;
        }
        shell += c;
        if (c == '\\' && quote != '\'' && at + 1 < command.size()) {
            shell += command[++at];  // taken as it is
        } else if ((c == '\'' && quote != '"') || (c == '"' && quote != '\'')) {
            quote = quote == c ? '\0' : c;
        }
    }
    return shell;
}

bool NamesTheExe(std::string_view command) {
    return ShellCommand(command) != command || command.find("$1") != std::string_view::npos ||
           command.find("${1}") != std::string_view::npos ||
           command.find("KESTOVA_SIGN_FILE") != std::string_view::npos;
}

}  // namespace kdu::package
