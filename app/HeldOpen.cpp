#include "app/HeldOpen.h"

#include <algorithm>

#include "app/Form1.h"
#include "app/Texts.h"
#include "platform/DecimalText.h"
#include "platform/ErrorNumbers.h"

namespace kdu {

std::vector<std::wstring> PairFiles(const CredentialPaths& paths) {
    std::vector<std::wstring> files;
    for (const auto& swap : paths.swaps) {
        files.push_back(swap.installed);
        files.push_back(swap.backup);
    }
    return files;
}

bool HeldOpenByAnother(const SystemError& error, const CredentialPaths& paths) {
    if (error.Kind() == Failure::HeldOpen) return true;
    if (error.Kind() != Failure::System) return false;
    if (error.Code() != kSharingViolation && error.Code() != kLockViolation) return false;
    const auto files = PairFiles(paths);
    return std::ranges::find(files, error.Path()) != files.end();
}

SystemError HeldOpenFailure(const SystemError& error, const std::vector<FileHolder>& holders) {
    std::wstring names;
    for (const auto& holder : holders) {
        names += names.empty() ? texts::kHeldBy : texts::kFileNameSeparator;
        names.append(holder.name)
            .append(texts::kProcessNumber)
            .append(DecimalText(holder.processId))
            .append(texts::kProcessNumberEnd);
    }
    return SystemError{Failure::HeldOpen, error.Path(), names};
}

SystemError NameTheHolders(const SystemError& error, const CredentialPaths& paths,
                           FileHolders& holders, bool& holdersNamed) {
    std::vector<FileHolder> found;
    try {
        found = holders.Find(PairFiles(paths))->Holders();
    } catch (const std::exception&) {
        // Who holds the file is a help, not a condition: the box says what to do without it.
    }
    holdersNamed = !found.empty();
    return HeldOpenFailure(error, found);
}

std::wstring RetryQuestionText(const SystemError& described, bool holdersNamed) {
    return ErrorMessageText(described) + L"\n\n" +
           std::wstring{holdersNamed ? texts::kCloseHoldersAndRetry : texts::kCloseProductAndRetry};
}

}  // namespace kdu
