#pragma once

#include <string>
#include <string_view>

namespace kdu::package {

// Whether a sign command names the exe to sign: "$1", $KESTOVA_SIGN_FILE or $f.
bool NamesTheExe(std::string_view command);

// The sign command for the shell, which runs it with the exe's path as "$1" and in
// KESTOVA_SIGN_FILE: each $f that the shell would expand (not within single quotes), as a whole
// word, becomes that path, one word within double quotes or without them.
std::string ShellCommand(std::string_view command);

}  // namespace kdu::package
