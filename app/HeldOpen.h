#pragma once

// A run that failed because another program has a file of the pair open (the product itself,
// most often): told as that, naming the programs Restart Manager finds, so that the user or a
// deployment tool can close them and try again.

#include <string>
#include <vector>

#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// The files a run renames over: the installed pair and its backups.
std::vector<std::wstring> PairFiles(const CredentialPaths& paths);

// Whether the run failed because another program had one of them open, still after the retries
// of the file step: a sharing or lock violation on one of them.
bool HeldOpenByAnother(const SystemError& error, const CredentialPaths& paths);

// The failure as that (Failure::HeldOpen, for the same file), naming the programs that hold it.
SystemError HeldOpenFailure(const SystemError& error, const std::vector<FileHolder>& holders);

// Finds who holds the files and tells the failure as HeldOpenFailure; holdersNamed says whether
// anyone was named.
SystemError NameTheHolders(const SystemError& error, const CredentialPaths& paths,
                           FileHolders& holders, bool& holdersNamed);

// The text of the box that offers 重試 and 取消: the failure as the error box says it (described:
// numbered, with its description), then what the user can do.
std::wstring RetryQuestionText(const SystemError& described, bool holdersNamed);

}  // namespace kdu
