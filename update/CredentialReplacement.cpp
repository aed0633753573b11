#include "update/CredentialReplacement.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <vector>

#include "platform/DecimalText.h"
#include "platform/ErrorNumbers.h"
#include "platform/Paths.h"
#include "update/FolderState.h"
#include "update/PackageCheck.h"
#include "update/PairCheck.h"

namespace kdu {
namespace {

// What an undo that failed says, by which of the pair is new.
struct MixedPairRemarks {
    std::wstring_view certificateNewKeyOld;
    std::wstring_view certificateOldKeyNew;
};

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
    void Flush() override {
        patiently_([&] { file_->Flush(); });
    }

private:
    std::unique_ptr<NewFile> file_;
    Patience& patiently_;
};

// The file system as the replacement uses it: every step that meets a short lock is tried
// again.
class PatientFileSystem final : public FileSystem {
public:
    PatientFileSystem(FileSystem& files, Pause& pause) : files_(files), patiently_(files, pause) {}

    std::wstring ExecutablePath() override { return files_.ExecutablePath(); }
    std::optional<Bytes> DigestSlot() override { return files_.DigestSlot(); }
    Bytes ReadAll(const std::wstring& path) override {
        return patiently_([&] { return files_.ReadAll(path); });
    }
    bool Exists(const std::wstring& path) override { return files_.Exists(path); }
    Sha256Digest Sha256Of(std::string_view bytes) override { return files_.Sha256Of(bytes); }
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

private:
    FileSystem& files_;
    Patience patiently_;
};

// Holds the install folder's lock for as long as it lives; waits for another run to give it up
// for at most kLockWaitMs.
class HeldRunLock {
public:
    HeldRunLock(RunLock& lock, Pause& pause, const std::wstring& lockFile) : lock_(lock) {
        for (unsigned waited = 0; !lock_.TryAcquire(lockFile); waited += kLockPollMs) {
            if (waited >= kLockWaitMs) throw SystemError{Failure::AnotherRun};
            pause.Sleep(kLockPollMs);
        }
    }
    HeldRunLock(const HeldRunLock&) = delete;
    HeldRunLock& operator=(const HeldRunLock&) = delete;
    ~HeldRunLock() { lock_.Release(); }

private:
    RunLock& lock_;
};

std::wstring TemporaryFor(const std::wstring& target) {
    return target + std::wstring{kTemporarySuffix};
}

// The path must name the file itself, and its only name: renaming over a symbolic link or a
// junction would replace the link and leave the file it points to, and over one of several
// hard links would leave the other names with the old content.
void CheckReplaceableAsItself(FileSystem& files, const std::wstring& installed) {
    const FileFacts facts = files.Inspect(installed);
    if (IsNameSurrogate(facts.reparseTag)) throw SystemError{Failure::SymbolicLink, installed};
    if (facts.links > 1) throw SystemError{Failure::HardLink, installed};
}

// A swap the run makes, with the installed file's content as read once: compared with the
// incoming file, then written as the backup, and put back by the undo. Without an incoming
// file, only the backup is written: the installed file stays, and is its pair's other half.
struct PendingSwap {
    const Swap* swap;
    Bytes installedContent;
    const Bytes* incoming;
    bool backsUp = true;

    bool Installs() const { return incoming != nullptr; }
};
using Pending = std::vector<PendingSwap>;

// A pending swap's new files (the backup, and the installed file unless it only backs up), open
// until they are in place.
struct StagedSwap {
    std::unique_ptr<NewFile> backup;
    std::unique_ptr<NewFile> installed;
};
using Staged = std::vector<StagedSwap>;

std::vector<std::wstring> TemporaryFiles(const CredentialPaths& paths) {
    std::vector<std::wstring> temporaries;
    for (const auto& swap : paths.swaps) {
        temporaries.push_back(TemporaryFor(swap.backup));
        temporaries.push_back(TemporaryFor(swap.installed));
        temporaries.push_back(TemporaryFor(StagedPathOf(swap)));
    }
    return temporaries;
}

// Each one on its own: one that cannot be removed does not keep the others. The first failure
// is returned. Every temporary file is a copy of a file under another name (a restore stages the
// pair it puts back first for that), so none is the only copy of a content.
std::optional<SystemError> RemoveTemporaryFiles(FileSystem& files, const CredentialPaths& paths) {
    std::optional<SystemError> failure;
    for (const auto& temporary : TemporaryFiles(paths)) {
        try {
            files.Remove(temporary);
        } catch (const SystemError& error) {
            if (!failure) failure = error;
        }
    }
    return failure;
}

// The contents to put in place of the certificate and of the key.
using PairContents = std::array<const Bytes*, 2>;

// What is to change: an installed file that already holds its new content is left alone, and so
// is its backup. Only reads.
Pending PendingSwaps(FileSystem& files, const CredentialPaths& paths,
                     const PairContents& incomingFor) {
    Pending pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const Swap& swap = paths.swaps[i];
        auto installed = files.ReadAll(swap.installed);
        if (installed == *incomingFor[i]) continue;
        CheckReplaceableAsItself(files, swap.installed);
        pending.push_back({&swap, std::move(installed), incomingFor[i]});
    }
    return pending;
}

bool AnyInstalls(const Pending& pending) {
    return std::ranges::any_of(pending, &PendingSwap::Installs);
}

// Whether a certificate and a key are one pair, as far as can be told.
bool IsPair(const std::optional<Bytes>& certificate, const std::optional<Bytes>& key) {
    if (!certificate || !key) return false;
    const auto leaf = ReadLeafCertificate(*certificate);
    const auto publicKey = ReadPrivateKey(*key);
    return leaf && publicKey && CompareKeys(leaf->key, *publicKey) == KeyMatch::Same;
}

// Which halves the backups take, so that they are always a whole pair, and the one from before:
// - where the installed files are one pair, both: also the half that stays (a certificate renewed
//   with its key);
// - where they are not, and the backups are a pair of which one half is installed (what an
//   interrupted run leaves: one half renamed, beside the backups it made), none: the backups
//   are the pair from before, and the installed half that is not theirs is the package's;
// - else the halves that change, each of which may be the only copy of its content.
// A run that finds nothing to install changes no backup, unless a run was cut short among the
// backups' renames (the installed files are one pair, and only one backup is its half): it
// finishes them.
Pending ChooseBackups(FileSystem& files, const CredentialPaths& paths,
                      const PairContents& incomingFor, Pending pending) {
    std::array<std::optional<Bytes>, 2> installed, backups;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto found = std::ranges::find(pending, &paths.swaps[i], &PendingSwap::swap);
        installed[i] = found != pending.end() ? found->installedContent : *incomingFor[i];
    }
    const bool installedArePair = IsPair(installed[kCertificateSwap], installed[kPrivateKeySwap]);
    if (installedArePair && pending.size() == paths.swaps.size()) return pending;
    if (!installedArePair && !AnyInstalls(pending)) return pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        backups[i] = ReadIfThere(files, paths.swaps[i].backup);
    }
    const bool backupsArePair = IsPair(backups[kCertificateSwap], backups[kPrivateKeySwap]);
    const bool halfOfTheBackups = installed[kCertificateSwap] == backups[kCertificateSwap] ||
                                  installed[kPrivateKeySwap] == backups[kPrivateKeySwap];
    if (!installedArePair) {
        if (backupsArePair && halfOfTheBackups) {
            for (auto& p : pending) p.backsUp = false;
        }
        return pending;
    }
    if (!AnyInstalls(pending) && (backupsArePair || !halfOfTheBackups)) return pending;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const Swap& swap = paths.swaps[i];
        if (std::ranges::find(pending, &swap, &PendingSwap::swap) != pending.end()) continue;
        if (backups[i] == installed[i]) continue;
        pending.push_back({&swap, std::move(*installed[i]), nullptr});
    }
    // The order of the renames is the order of the swaps.
    std::ranges::sort(pending, {}, &PendingSwap::swap);
    return pending;
}

// Only the files that will be renamed over: a product running again may hold its unchanged pair
// open, and an unchanged backup may be read-only.
void CheckBeforeAnyChange(FileSystem& files, const Pending& pending) {
    for (const auto& p : pending) {
        if (p.Installs()) files.CheckReplaceable(p.swap->installed);
        if (p.backsUp && files.Exists(p.swap->backup)) files.CheckReplaceable(p.swap->backup);
    }
}

Staged WriteTemporaryCopies(FileSystem& files, const Pending& pending) {
    Staged staged;
    for (const auto& p : pending) {
        const auto& installed = p.swap->installed;
        std::unique_ptr<NewFile> backup;
        if (p.backsUp) {
            backup =
                files.WriteNewFile(p.installedContent, TemporaryFor(p.swap->backup), installed);
        }
        std::unique_ptr<NewFile> incoming;
        if (p.Installs()) {
            incoming = files.WriteNewFile(*p.incoming, TemporaryFor(installed), installed);
        }
        staged.push_back({std::move(backup), std::move(incoming)});
    }
    return staged;
}

// Puts the installed content of the first `installed` pending swaps back; which of the pair is
// new if that failed.
std::optional<std::wstring> PutBackupsBack(FileSystem& files, const CredentialPaths& paths,
                                           const Pending& pending, std::size_t installed,
                                           const MixedPairRemarks& remarks) {
    // A file left out of the run already held its new content; one in it is old unless its
    // rename stands and its backup could not be put back.
    std::array<bool, 2> isNew{true, true};
    const auto of = [&](const Swap* swap) -> bool& {
        return isNew[static_cast<std::size_t>(swap - paths.swaps.data())];
    };
    for (const auto& p : pending) of(p.swap) = false;
    for (std::size_t i = 0; i < installed; ++i) {
        if (!pending[i].Installs()) continue;
        const auto& target = pending[i].swap->installed;
        try {
            const auto restored =
                files.WriteNewFile(pending[i].installedContent, TemporaryFor(target), target);
            restored->RenameOver(target);
            restored->Flush();
        } catch (const std::exception&) {
            of(pending[i].swap) = true;
        }
    }
    // A half that only was backed up belongs to both pairs: the pair cannot be mixed.
    if (!std::ranges::all_of(pending, &PendingSwap::Installs)) return std::nullopt;
    if (isNew[kCertificateSwap] == isNew[kPrivateKeySwap]) return std::nullopt;
    return std::wstring{isNew[kCertificateSwap] ? remarks.certificateNewKeyOld
                                                : remarks.certificateOldKeyNew};
}

// Renames the new files into place in order, then flushes them through the handles that wrote
// them: the closing lines say the pair is new only once it is on the disk (a rename within one
// volume is not written through), and no other program's open of the new file can fail a
// finished replacement. If a step fails, the files already renamed get their content back, so
// that the pair is never mixed; if that fails too, the error says so.
void InstallTemporaryCopies(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
                            Staged& staged, const MixedPairRemarks& remarks) {
    std::size_t installed = 0;
    const auto undo = [&] {
        staged.clear();  // a file open here cannot be renamed over
        return PutBackupsBack(files, paths, pending, installed, remarks);
    };
    try {
        for (; installed < pending.size(); ++installed) {
            if (!pending[installed].Installs()) continue;
            staged[installed].installed->RenameOver(pending[installed].swap->installed);
        }
        for (const auto& s : staged) {
            if (s.installed) s.installed->Flush();
        }
    } catch (const SystemError& error) {
        // The first failure is the one to report; it happened first.
        if (auto mixed = undo()) throw error.Remarked(std::move(*mixed));
        throw;
    } catch (...) {
        undo();
        throw;
    }
}

// The backups that the first `renamed` pending swaps replaced get their content back (one that
// was not there goes), quietly: a failed run leaves the backups as it found them where it can.
void PutOldBackupsBack(FileSystem& files, const Pending& pending,
                       const std::vector<std::optional<Bytes>>& oldBackups,
                       std::size_t renamed) noexcept {
    for (std::size_t i = 0; i < renamed; ++i) {
        if (!pending[i].backsUp) continue;
        const auto& backup = pending[i].swap->backup;
        try {
            if (!oldBackups[i]) {
                files.Remove(backup);
                continue;
            }
            const auto restored = files.WriteNewFile(*oldBackups[i], TemporaryFor(backup), backup);
            restored->RenameOver(backup);
            restored->Flush();
        } catch (...) {
        }
    }
}

// Puts the pending contents in place, each installed file kept as its backup. All copies are
// written and flushed before the first rename, and the renames follow one another, backups
// first: a crash can find the certificate and key from different pairs only between the last two
// renames, and the next run completes the pair. A new file not renamed into place when a step
// fails deletes itself. A failure leaves the folder as it was: the installed files and the
// backups get their content back; a pair left mixed keeps its new backups, which the next run
// completes it with.
void CarryOut(FileSystem& files, const CredentialPaths& paths, const Pending& pending,
              const MixedPairRemarks& remarks) {
    CheckBeforeAnyChange(files, pending);
    std::vector<std::optional<Bytes>> oldBackups;
    for (const auto& p : pending) {
        oldBackups.push_back(p.backsUp ? ReadIfThere(files, p.swap->backup) : std::nullopt);
    }
    auto staged = WriteTemporaryCopies(files, pending);
    std::size_t renamed = 0;
    const auto undoBackups = [&] {
        staged.clear();  // their temporary names are the undo's
        PutOldBackupsBack(files, pending, oldBackups, renamed);
    };
    try {
        for (; renamed < pending.size(); ++renamed) {
            if (staged[renamed].backup)
                staged[renamed].backup->RenameOver(pending[renamed].swap->backup);
        }
        InstallTemporaryCopies(files, paths, pending, staged, remarks);
    } catch (const SystemError& error) {
        if (error.Remark().empty()) undoBackups();
        throw;
    } catch (...) {
        undoBackups();
        throw;
    }
}

constexpr MixedPairRemarks kUpdateRemarks{kCertificateNewKeyOld, kCertificateOldKeyNew};
constexpr MixedPairRemarks kRestoreRemarks{kCertificateBackKeyNot, kKeyBackCertificateNot};
struct Leftovers {
    bool restoreCompleted = false;
    std::vector<std::wstring> setAside;
};
// What becomes of a restore cut short: a restore completes it (it is the swap asked for); an
// update rolls it back, so that the backups it makes hold the pair that was installed before
// that restore, which never finished.
enum class CutShortRestore { Complete, RollBack };

// Each one on its own, and quietly: they are copies of the pair in place once the swap is done,
// or of the backups if it never began; a later run removes what stays.
void RemoveStagedPair(FileSystem& files, const CredentialPaths& paths) noexcept {
    for (const auto& swap : paths.swaps) {
        try {
            files.Remove(StagedPathOf(swap));
        } catch (...) {
        }
    }
}

// Where a staged file that is not to be installed goes: the first set-aside name that is free or
// already holds its content (a run that set it aside and then could not remove it).
struct SetAsidePlace {
    std::wstring path;
    bool holdsContent = false;
};
SetAsidePlace SetAsidePlaceFor(FileSystem& files, const Swap& swap, const Bytes& content) {
    const auto first = swap.installed + std::wstring{kSetAsideSuffix};
    for (int n = 1;; ++n) {
        auto path = n == 1 ? first : first + L"-" + DecimalText(n);
        if (!files.Exists(path)) return {std::move(path), false};
        if (files.ReadAll(path) == content) return {std::move(path), true};
    }
}

// A failure after staged files were set aside says where they are, as a success does.
SystemError SayingWhereSetAside(const SystemError& error,
                                const std::vector<std::wstring>& setAside) {
    if (setAside.empty()) return error;
    std::wstring remark = error.Remark();
    if (!remark.empty()) remark += L"\n\n";
    return error.Remarked(remark + SetAsideText(setAside));
}

// Each staged file goes: removed where its content is under another name, else copied to a
// set-aside name first, so that a content that may be the only copy of a key is never lost.
// Throws if one cannot go: nothing else may change while a staged file could be taken for a
// restore's. The set-aside names, new in this run.
std::vector<std::wstring> ClearStaging(FileSystem& files, const CredentialPaths& paths,
                                       const FolderContents& folder) {
    std::vector<std::wstring> setAside;
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& [installed, backup, staged] = folder[i];
            if (!staged) continue;
            const auto path = StagedPathOf(paths.swaps[i]);
            if (installed != staged && backup != staged) {
                auto place = SetAsidePlaceFor(files, paths.swaps[i], *staged);
                if (!place.holdsContent) {
                    auto copy = files.WriteNewFile(*staged, TemporaryFor(path), path);
                    copy->RenameOver(place.path);
                    copy->Flush();
                    setAside.push_back(std::move(place.path));
                }
            }
            files.Remove(path);
        }
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, setAside);
    }
    return setAside;
}

// Puts the folder back as the restore cut short found it: each installed file gets the content
// the restore moved to its backup, then each backup its staged content. Every content overwritten
// is under another name: a kill at any moment leaves a restore still cut short, or none.
void RollBack(FileSystem& files, const CredentialPaths& paths, const FolderContents& folder) {
    Pending installedBack, backupsBack;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto& [installed, backup, staged] = folder[i];
        const Swap* swap = &paths.swaps[i];
        // Renamed: the installed file holds the staged content and the backup does not.
        if (backup && installed == staged && backup != staged) {
            installedBack.push_back({swap, *installed, &*backup, false});
        }
        if (backup != staged) backupsBack.push_back({swap, *staged, nullptr});
    }
    CarryOut(files, paths, installedBack, kRestoreRemarks);
    CarryOut(files, paths, backupsBack, kRestoreRemarks);
}

// A restore renames over all four names, so between the renames a content would be in a
// temporary file alone. The pair it puts back is therefore staged first, in files that only a
// restore's last step removes. A restore cut short is completed or rolled back here by the same
// steps; a staged file that is not a cut-short restore's is never installed. Afterwards no staged
// file is there, unless a restore completed it and could not remove it (it is then a copy of the
// installed file, which the next run removes).
Leftovers CompleteOrClear(FileSystem& files, const CredentialPaths& paths, CutShortRestore what) {
    const auto folder = ReadFolder(files, paths);
    switch (StateOf(folder)) {
        case FolderState::Settled:
            return {};
        case FolderState::StagingLeftOver:
            return {false, ClearStaging(files, paths, folder)};
        case FolderState::RestoreCutShort:
            break;
    }
    if (what == CutShortRestore::RollBack) {
        RollBack(files, paths, folder);
        ClearStaging(files, paths, ReadFolder(files, paths));
        return {};
    }
    const auto& certificate = *folder[kCertificateSwap].staged;
    const auto& privateKey = *folder[kPrivateKeySwap].staged;
    CarryOut(files, paths, PendingSwaps(files, paths, {&certificate, &privateKey}),
             kRestoreRemarks);
    RemoveStagedPair(files, paths);
    return {true, {}};
}

// What an interrupted run left goes first, under the lock, so that no run in progress loses it:
// temporary files (each a copy of a file under another name) are removed, then a restore cut
// short is completed or rolled back, or staged files left over go.
Leftovers SettleLeftovers(FileSystem& files, const CredentialPaths& paths, CutShortRestore what) {
    if (auto failure = RemoveTemporaryFiles(files, paths)) throw *failure;
    return CompleteOrClear(files, paths, what);
}

// The backups, read once and checked as a package's pair is: the product must be able to use
// them once they are back. The downgrade check does not apply: going back is the point.
IncomingFiles CheckedBackups(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    const auto& certificate = paths.swaps[kCertificateSwap].backup;
    const auto& privateKey = paths.swaps[kPrivateKeySwap].backup;
    IncomingFiles backups{files.ReadAll(certificate), files.ReadAll(privateKey)};
    try {
        CheckPairContent(backups, certificate, privateKey, now);
    } catch (const SystemError& error) {
        switch (error.Kind()) {
            case Failure::CertificateExpired:
                throw SystemError{Failure::BackupExpired, error.Path(), error.Description()};
            case Failure::NotACertificate:
            case Failure::NotAPrivateKey:
            case Failure::EncryptedPrivateKey:
            case Failure::KeyMismatch:
                throw SystemError{Failure::BackupNotAPair, error.Path()};
            default:
                throw;
        }
    }
    return backups;
}

// Stages the pair to put back, each file written beside the backup it copies, made like it, and
// renamed into place. If that fails, what was staged goes: nothing has changed yet.
void StagePair(FileSystem& files, const CredentialPaths& paths, const IncomingFiles& backups) {
    const PairContents contents{&backups.certificate, &backups.privateKey};
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& swap = paths.swaps[i];
            const auto staged = StagedPathOf(swap);
            auto file = files.WriteNewFile(*contents[i], TemporaryFor(staged), swap.backup);
            file->RenameOver(staged);
            file->Flush();
        }
    } catch (...) {
        RemoveStagedPair(files, paths);
        throw;
    }
}

// After a swap that failed and was undone: the backups get their content back from the staged
// pair, which then goes. Where that fails, the staged pair stays, holding what the backups lack.
void PutStagedPairBack(FileSystem& files, const CredentialPaths& paths,
                       const IncomingFiles& backups) noexcept {
    const PairContents contents{&backups.certificate, &backups.privateKey};
    try {
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& backup = paths.swaps[i].backup;
            if (files.ReadAll(backup) == *contents[i]) continue;
            auto file = files.WriteNewFile(*contents[i], TemporaryFor(backup), backup);
            file->RenameOver(backup);
            file->Flush();
        }
    } catch (...) {
        return;
    }
    RemoveStagedPair(files, paths);
}

// Stages the backups, then swaps them with the installed pair; a failure is undone.
void SwapWithBackups(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    const auto backups = CheckedBackups(files, paths, now);
    const PairContents contents{&backups.certificate, &backups.privateKey};
    const auto pending =
        ChooseBackups(files, paths, contents, PendingSwaps(files, paths, contents));
    if (pending.empty()) return;  // the backups hold the installed pair
    CheckBeforeAnyChange(files, pending);

    // Both are staged, even one that is not pending: a restore is completed only where both are.
    StagePair(files, paths, backups);
    try {
        CarryOut(files, paths, pending, kRestoreRemarks);
    } catch (const SystemError& error) {
        // With the pair mixed, the staged pair is what the next restore completes it with.
        if (error.Remark().empty()) PutStagedPairBack(files, paths, backups);
        throw;
    } catch (...) {
        PutStagedPairBack(files, paths, backups);
        throw;
    }
    RemoveStagedPair(files, paths);
}

}  // namespace

std::wstring SetAsideText(const std::vector<std::wstring>& setAside) {
    std::wstring text{kSetAside};
    for (std::size_t i = 0; i < setAside.size(); ++i) {
        if (i > 0) text += L"、";
        text += setAside[i];
    }
    return text;
}

CredentialPaths ComposePaths(std::wstring_view applicationFolder, std::wstring_view installFolder,
                             std::wstring_view certificateFile, std::wstring_view privateKeyFile) {
    const auto swap = [&](std::wstring_view installedFile, std::wstring_view incomingFile) {
        auto installed = Join(installFolder, installedFile);
        auto backup = installed + std::wstring{kBackupSuffix};
        return Swap{std::move(installed), std::move(backup), Join(applicationFolder, incomingFile)};
    };
    return {{swap(certificateFile, kNewCertificateFile), swap(privateKeyFile, kNewPrivateKeyFile)},
            Join(applicationFolder, kChecksumsFile),
            Join(installFolder, kLockFile)};
}

ReplacementReport ReplaceCredentials(FileSystem& systemFiles, Pause& pause, RunLock& runLock,
                                     Clock& clock, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    const auto incoming = CheckPackage(files, paths, clock.UtcSeconds());
    ReplacementReport report{incoming.pairUnverified, false, {}};
    const PairContents contents{&incoming.certificate, &incoming.privateKey};
    std::optional<HeldRunLock> oneAtATime;
    try {
        oneAtATime.emplace(runLock, pause, paths.lockFile);
    } catch (const SystemError& error) {
        if (error.Kind() == Failure::AnotherRun) throw;
        // No lock file can be made: a folder this user may not write to (a product under Program
        // Files that an administrator updated), or one that is not there. Nothing could change
        // there, so there is nothing to exclude: a pair that is already the new one is what the
        // run is for, and what the files say is a better report than the lock's failure.
        if (AnyInstalls(PendingSwaps(files, paths, contents))) throw;
        return report;
    }
    report.setAside = SettleLeftovers(files, paths, CutShortRestore::RollBack).setAside;
    try {
        const auto pending =
            ChooseBackups(files, paths, contents, PendingSwaps(files, paths, contents));
        for (const auto& p : pending) {
            if (p.swap == &paths.swaps[kCertificateSwap] && p.Installs()) {
                CheckNotOlder(incoming, p.installedContent, p.swap->installed);
            }
        }
        CarryOut(files, paths, pending, kUpdateRemarks);
        report.replaced = AnyInstalls(pending);
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, report.setAside);
    }
    return report;
}

RestorePreview PreviewRestore(FileSystem& files, const CredentialPaths& paths, std::int64_t now) {
    RestorePreview preview;
    try {
        preview.installedCertificate = files.ReadAll(paths.swaps[kCertificateSwap].installed);
    } catch (const SystemError&) {
        // Not there or not readable: the question says so; the restore puts one back all the same.
    }
    const auto folder = ReadFolder(files, paths);
    if (StateOf(folder) == FolderState::RestoreCutShort) {
        preview.certificateToPutBack = *folder[kCertificateSwap].staged;
    } else {
        preview.certificateToPutBack = CheckedBackups(files, paths, now).certificate;
    }
    return preview;
}

ReplacementReport RestoreCredentials(FileSystem& systemFiles, Pause& pause, RunLock& runLock,
                                     Clock& clock, const CredentialPaths& paths) {
    PatientFileSystem files{systemFiles, pause};
    const HeldRunLock oneAtATime{runLock, pause, paths.lockFile};
    const auto leftovers = SettleLeftovers(files, paths, CutShortRestore::Complete);
    ReplacementReport report{false, true, leftovers.setAside};
    if (leftovers.restoreCompleted) return report;  // that was the swap asked for
    try {
        SwapWithBackups(files, paths, clock.UtcSeconds());
    } catch (const SystemError& error) {
        throw SayingWhereSetAside(error, report.setAside);
    }
    return report;
}

}  // namespace kdu
