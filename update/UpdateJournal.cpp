#include "update/UpdateJournal.h"

#include <memory>

#include "update/Leftovers.h"
#include "update/PatientFileSystem.h"

namespace kdu {
namespace {

constexpr std::string_view kJournalHeading = "KestovaDesktopUpdater update journal 1\n";
constexpr std::string_view kDone = "done\n";
constexpr char kBackupLetters[] = {'u', 'k', 'n'};  // by JournalHalf::Backup
constexpr char kHexDigits[] = "0123456789abcdef";

std::optional<Sha256Digest> DigestOf(std::string_view hex) {
    Sha256Digest digest{};
    if (hex.size() != 2 * digest.size()) return std::nullopt;
    const auto value = [](char c) {
        const std::string_view digits{kHexDigits};
        const auto at = digits.find(c);
        return at == std::string_view::npos ? -1 : static_cast<int>(at);
    };
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = value(hex[2 * i]);
        const int low = value(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

bool Holds(const std::optional<Bytes>& content, const std::optional<Sha256Digest>& digest) {
    return content && digest && Sha256Of(*content) == *digest;
}

}  // namespace

std::string JournalText(const UpdateJournal& journal) {
    std::string text{kJournalHeading};
    for (const auto& half : journal.halves) {
        text += kBackupLetters[static_cast<int>(half.backup)];
        text += ' ';
        if (!half.incoming) text += '-';
        for (const auto byte : half.incoming.value_or(Sha256Digest{})) {
            if (!half.incoming) break;
            text += kHexDigits[byte >> 4];
            text += kHexDigits[byte & 0xF];
        }
        text += '\n';
    }
    if (journal.done) text += kDone;
    return text;
}

std::optional<UpdateJournal> ParseJournal(std::string_view text) {
    if (!text.starts_with(kJournalHeading)) return std::nullopt;
    text.remove_prefix(kJournalHeading.size());
    UpdateJournal journal;
    for (auto& half : journal.halves) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos || end < 3 || text[1] != ' ') return std::nullopt;
        const auto letter = std::string_view{kBackupLetters, 3}.find(text[0]);
        if (letter == std::string_view::npos) return std::nullopt;
        half.backup = static_cast<JournalHalf::Backup>(letter);
        const auto digest = text.substr(2, end - 2);
        if (digest != "-") {
            half.incoming = DigestOf(digest);
            if (!half.incoming) return std::nullopt;
        }
        text.remove_prefix(end + 1);
    }
    journal.done = text == kDone;
    if (!text.empty() && !journal.done) return std::nullopt;
    return journal;
}

std::optional<UpdateJournal> BeginJournal(FileSystem& files, const CredentialPaths& paths,
                                          const Pending& pending) {
    UpdateJournal journal;
    bool backups = false;
    for (const auto& p : pending) {
        auto& half = journal.halves[static_cast<std::size_t>(p.swap - paths.swaps.data())];
        if (p.Installs()) half.incoming = Sha256Of(*p.incoming);
        if (!p.backsUp) continue;
        backups = true;
        half.backup = JournalHalf::Backup::None;
        if (!files.Exists(p.swap->backup)) continue;
        WriteInPlace(files, files.ReadAll(p.swap->backup), PreviousPathOf(*p.swap), p.swap->backup);
        half.backup = JournalHalf::Backup::Kept;
    }
    if (!backups) return std::nullopt;
    // Written last: without it, the previous copies are copies of the backups, and go.
    WriteInPlace(files, JournalText(journal), paths.journal,
                 paths.swaps[kCertificateSwap].installed);
    return journal;
}

void MarkCompleted(FileSystem& files, const CredentialPaths& paths, UpdateJournal journal) {
    journal.done = true;
    WriteInPlace(files, JournalText(journal), paths.journal, paths.journal);
}

std::vector<std::wstring> SettleCutShortUpdate(FileSystem& files, Pause& pause,
                                               const CredentialPaths& paths,
                                               const FolderContents& folder) {
    std::vector<std::wstring> setAside;
    const auto journal = ParseJournal(folder.journal.value_or(""));
    // The installed files are held while they are judged and put back: a pair another program
    // puts in place meanwhile is never taken for this update's, nor written over.
    std::array<std::unique_ptr<HeldFile>, 2> holds;
    std::array<std::optional<Bytes>, 2> installed;
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        if (!files.Exists(paths.swaps[i].installed)) continue;
        holds[i] = files.Hold(paths.swaps[i].installed);
        installed[i] = holds[i]->Content();
    }
    bool completed = journal.has_value();
    for (std::size_t i = 0; journal && !journal->done && i < paths.swaps.size(); ++i) {
        const auto& half = journal->halves[i];
        if (half.incoming && !Holds(installed[i], half.incoming)) completed = false;
    }
    // Renamed: the backup took the installed content (it is no longer its old one).
    std::array<bool, 2> renamed{};
    for (std::size_t i = 0; journal && i < paths.swaps.size(); ++i) {
        const auto& [read, backup, staged, previous] = folder[i];
        renamed[i] = journal->halves[i].backup == JournalHalf::Backup::Kept
                         ? previous && backup && backup != previous
                         : journal->halves[i].backup == JournalHalf::Backup::None && backup;
    }
    // As the update left it: each installed half holds what the update put there, or what it
    // backed up, or, where its backup was not renamed yet, was not renamed either. Where another
    // program changed the folder since (took a half away, put its own file in place), nothing
    // is put back: the backups stay as they are (a restore puts them back whole), and what the
    // journal kept is set aside.
    bool asLeft = journal && installed[kCertificateSwap] && installed[kPrivateKeySwap];
    for (std::size_t i = 0; asLeft && i < paths.swaps.size(); ++i) {
        const auto& incoming = journal->halves[i].incoming;
        const bool put = Holds(installed[i], incoming);
        asLeft = renamed[i] ? put || installed[i] == folder[i].backup : !put;
    }
    if (!completed && asLeft) {
        // The installed halves go back before the backups; nothing the system sends comes
        // between them (the pair is mixed until the last is back).
        const MessagesHeld rollingBack{pause};
        for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
            const auto& [read, backup, staged, previous] = folder[i];
            const auto& swap = paths.swaps[i];
            if (!renamed[i]) continue;
            if (installed[i] != backup) {
                const auto copy =
                    files.WriteNewFile(*backup, TemporaryFor(swap.installed), swap.installed);
                holds[i].reset();  // a held file cannot be renamed over
                copy->RenameOver(swap.installed);
                copy->Flush();
                installed[i] = backup;
            }
            if (previous) {
                WriteInPlace(files, *previous, swap.backup, swap.backup);
            } else {
                files.Remove(swap.backup);
            }
        }
    }
    // A completed update's old backups go; a rolled-back one's are the backups again, or, where
    // one could not go back, are set aside.
    const auto now = completed ? folder : ReadFolder(files, paths);
    for (std::size_t i = 0; i < paths.swaps.size(); ++i) {
        const auto& previous = now[i].previous;
        if (!previous) continue;
        const bool elsewhere = completed || previous == now[i].backup || previous == installed[i];
        Discard(files, paths.swaps[i], PreviousPathOf(paths.swaps[i]), previous, elsewhere,
                setAside);
    }
    files.Remove(paths.journal);
    return setAside;
}

}  // namespace kdu
