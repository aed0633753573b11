#pragma once

// The file system as the replacement and the restore use it: a file step that meets a short lock
// is tried again.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/ErrorNumbers.h"
#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

// Runs a file step, trying it again when it meets a short lock. Antivirus, the search indexer
// and sync clients open new and changed files for a moment; the user should not see that as a
// failure. A read-only file is a refusal, and fails at once.
class Patience {
public:
    Patience(FileSystem& files, Pause& pause) : files_(files), pause_(pause) {}

    template <typename Step>
    auto operator()(Step&& step) -> decltype(step()) {
        for (const unsigned pauseMs : kRetryPausesMs) {
            try {
                return step();
            } catch (const SystemError& error) {
                if (!Transient(error)) throw;
            }
            pause_.Sleep(pauseMs);
        }
        return step();
    }

private:
    bool Transient(const SystemError& error) {
        switch (error.Code()) {
            case kSharingViolation:
            case kLockViolation:
                return true;
            case kAccessDenied:
                // A file being deleted or scanned denies access for a moment too.
                return error.Path().empty() || !files_.IsReadOnly(error.Path());
            default:
                return false;
        }
    }

    FileSystem& files_;
    Pause& pause_;
};

class PatientNewFile final : public NewFile {
public:
    PatientNewFile(std::unique_ptr<NewFile> file, Patience& patiently)
        : file_(std::move(file)), patiently_(patiently) {}
    void RenameOver(const std::wstring& target) override {
        patiently_([&] { file_->RenameOver(target); });
    }
    void RenameOverAtOnce(const std::wstring& target) override { file_->RenameOver(target); }
    void Flush() override {
        patiently_([&] { file_->Flush(); });
    }

private:
    std::unique_ptr<NewFile> file_;
    Patience& patiently_;
};

// While it lives, a pause handles no message: from the first rename of a change to its last
// step (or its undo), nothing the system sends, the end of the session among it, is handled, so
// that the program is never ended between two renames. The retries still wait.
class MessagesHeld {
public:
    explicit MessagesHeld(Pause& pause) : pause_(pause) { pause_.HoldMessages(true); }
    MessagesHeld(const MessagesHeld&) = delete;
    MessagesHeld& operator=(const MessagesHeld&) = delete;
    ~MessagesHeld() { pause_.HoldMessages(false); }

private:
    Pause& pause_;
};

// The file system as the replacement uses it: every step that meets a short lock is tried
// again.
class PatientFileSystem final : public FileSystem {
public:
    PatientFileSystem(FileSystem& files, Pause& pause) : files_(files), patiently_(files, pause) {}

    Bytes ReadAll(const std::wstring& path) override {
        return patiently_([&] { return files_.ReadAll(path); });
    }
    bool Exists(const std::wstring& path) override { return files_.Exists(path); }
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override {
        return files_.SameFileName(utf8Name, name);
    }
    void CheckReplaceable(const std::wstring& path) override {
        patiently_([&] { files_.CheckReplaceable(path); });
    }
    bool IsReadOnly(const std::wstring& path) override { return files_.IsReadOnly(path); }
    FileFacts Inspect(const std::wstring& path) override {
        return patiently_([&] { return files_.Inspect(path); });
    }
    // A failed try leaves nothing behind (the file deletes what it made), so the next try
    // creates the file anew.
    std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                          const std::wstring& model) override {
        return std::make_unique<PatientNewFile>(
            patiently_([&] { return files_.WriteNewFile(content, path, model); }), patiently_);
    }
    void Remove(const std::wstring& path) override {
        patiently_([&] { files_.Remove(path); });
    }
    std::unique_ptr<HeldFile> Hold(const std::wstring& path) override {
        return patiently_([&] { return files_.Hold(path); });
    }
    std::wstring VirtualStoreCopyOf(const std::wstring& path) override {
        return files_.VirtualStoreCopyOf(path);
    }

private:
    FileSystem& files_;
    Patience patiently_;
};

}  // namespace kdu
