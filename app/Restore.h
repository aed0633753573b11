#pragma once

// The window form of /restore: a question before anything changes, then a box that says how it
// went. No main window: the boxes are the whole conversation.

#include <optional>
#include <string>
#include <string_view>

#include "app/QuietRun.h"
#include "platform/ErrorNumbers.h"
#include "platform/Ports.h"
#include "update/PairCheck.h"

namespace kdu {

class RestoreDialogs {
public:
    virtual ~RestoreDialogs() = default;
    // A Yes/No question; true for 是.
    virtual bool Confirm(std::wstring_view question) = 0;
    // The restore is done.
    virtual void Inform(std::wstring_view text) = 0;
    // The error box, for a refusal or a failure; installFolder may be empty.
    virtual void ShowError(const SystemError& error, const std::wstring& installFolder) = 0;
};

// Asks before the restore, with the validity of the installed certificate and of the one it
// would put back; a refusal (no install folder, backups missing or not a usable pair) shows the
// error box instead. 否 changes nothing (kCancelled). The outcome, as /quiet's.
QuietOutcome RestoreWithQuestion(const Services& services, RestoreDialogs& dialogs);

// The question's text.
std::wstring RestoreQuestionText(const std::optional<CertificateFacts>& installed,
                                 const CertificateFacts& toPutBack);

}  // namespace kdu
