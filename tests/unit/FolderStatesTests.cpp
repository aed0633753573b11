// Every sequence of updates, restores and changes by other programs, each run completing,
// failing at any one file step or killed before any one, explored as a graph of install folder
// states: each state is visited once, breadth first, with every operation and fault applied.

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <iostream>
#include <map>
#include <set>

#include "tests/package/TestCredentials.h"
#include "tests/unit/Fakes.h"
#include "update/CredentialReplacement.h"

namespace kdu::testing {
namespace {

namespace made = package::testing;

const std::wstring kApp = L"C:\\Users\\user\\Downloads";
const std::wstring kInstall = L"C:\\Kestova";
const CredentialPaths kPaths = ComposePaths(kApp, kInstall, L"Certificate.pem", L"PrivateKey.pem");
const Swap& kCertificate = kPaths.swaps[kCertificateSwap];
const Swap& kKey = kPaths.swaps[kPrivateKeySwap];

using Folder = std::map<std::wstring, Bytes>;  // the install folder's files
using PairSet = std::set<int>;                 // pairs by their index in Explorer::pairs_
constexpr int kNoPair = -1;                    // a half of one pair beside one of another

// What an invariant needs to know of the runs before: the pairs the backups may hold (the one
// installed before the last completed run), and the pairs that runs cut short since then had
// installed or were putting in place (a later run may complete them).
struct History {
    PairSet backups;
    PairSet inFlight;
    auto operator<=>(const History&) const = default;
};

struct State {
    Folder folder;
    History history;
    int depth = 0;
};

enum class Operation { UpdateP1, UpdateP2, Restore };

struct Outcome {
    Folder folder;
    bool succeeded = false;
    bool mixedPairSaid = false;  // the run said which half is new: the next run completes it
    int steps = 0;               // the file steps it took, where counted
};

class Explorer {
public:
    Explorer() {
        // Older to newer: the first pair installed, the other program's, P1, then P2, a renewal
        // of P1 that keeps its key.
        const auto first = made::NewKey(), other = made::NewKey(), p1 = made::NewKey();
        AddPair(first.get(), first.get(), -4000);
        AddPair(p1.get(), p1.get(), -2000);
        AddPair(p1.get(), p1.get(), -1000);
        AddPair(other.get(), other.get(), -3000);
    }

    static constexpr int kFirst = 0, kP1 = 1, kP2 = 2, kOther = 3;

    void Explore(int maxDepth) {
        const auto start = std::chrono::steady_clock::now();
        State initial;
        initial.folder = {{kCertificate.installed, pairs_[kFirst].certificate},
                          {kKey.installed, pairs_[kFirst].key}};
        std::deque<State> queue{initial};
        visited_.insert(KeyOf(initial));
        while (!queue.empty() && !::testing::Test::HasFailure()) {
            const State state = std::move(queue.front());
            queue.pop_front();
            deepest_ = std::max(deepest_, state.depth);
            CheckCleanRunsSucceed(state);
            if (state.depth == maxDepth) continue;
            for (auto& next : Successors(state)) {
                next.depth = state.depth + 1;
                if (visited_.insert(KeyOf(next)).second) queue.push_back(std::move(next));
            }
        }
        const auto seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        std::cout << "explored " << visited_.size() << " folder states and " << transitions_
                  << " transitions (" << runs_ << " runs) to sequences of " << deepest_
                  << " operations in " << seconds.count() << " s\n";
    }

    std::size_t States() const { return visited_.size(); }
    int Deepest() const { return deepest_; }

    // One run on a copy of the folder; kills, where asked, are the folder before each step.
    Outcome Run(const Folder& folder, Operation operation, const std::wstring& held,
                bool removalRefused, int failAt, std::vector<Folder>* kills = nullptr) {
        int steps = 0;
        ++runs_;
        FakeFileSystem files;
        files.files = folder;
        const int package = operation == Operation::UpdateP2 ? kP2 : kP1;
        files.files[kCertificate.incoming] = pairs_[package].certificate;
        files.files[kKey.incoming] = pairs_[package].key;
        if (!held.empty()) files.locked.insert(held);
        files.removalRefused = removalRefused;
        if (failAt > 0) files.failAt = {failAt};
        if (kills) {
            files.onStep = [&](const std::wstring&) {
                auto folderNow = InFolder(files);
                if (kills->empty() || kills->back() != folderNow)
                    kills->push_back(std::move(folderNow));
                ++steps;
            };
        }
        FakePause pause;
        FakeRunLock runLock;
        FakeClock clock;
        Outcome outcome;
        try {
            if (operation == Operation::Restore) {
                RestoreCredentials(files, pause, runLock, clock, kPaths);
            } else {
                ReplaceCredentials(files, pause, runLock, clock, kPaths);
            }
            outcome.succeeded = true;
        } catch (const SystemError& error) {
            outcome.mixedPairSaid = !error.Remark().empty() && error.Remark() != SetAsideOf(error);
        }
        outcome.folder = InFolder(files);
        outcome.steps = steps;
        return outcome;
    }

    int PairOf(const Folder& folder, const std::wstring& certificate,
               const std::wstring& key) const {
        const auto c = folder.find(certificate), k = folder.find(key);
        if (c == folder.end() || k == folder.end()) return kNoPair;
        for (int i = 0; i < static_cast<int>(pairs_.size()); ++i) {
            if (pairs_[i].certificate == c->second && pairs_[i].key == k->second) return i;
        }
        return kNoPair;
    }
    int Installed(const Folder& folder) const {
        return PairOf(folder, kCertificate.installed, kKey.installed);
    }
    int Backups(const Folder& folder) const {
        return PairOf(folder, kCertificate.backup, kKey.backup);
    }

    struct Pair {
        Bytes certificate;
        Bytes key;
    };
    std::vector<Pair> pairs_;

private:
    void AddPair(EVP_PKEY* certified, EVP_PKEY* key, long from) {
        pairs_.push_back({made::CertificatePem(certified, FakeClock{}.now, from, 86400 * 365),
                          made::PrivateKeyPem(key)});
    }

    static std::wstring SetAsideOf(const SystemError& error) {
        const auto at = error.Remark().find(kSetAside);
        return at == std::wstring::npos ? std::wstring{} : error.Remark().substr(at);
    }

    static Folder InFolder(const FakeFileSystem& files) {
        Folder folder;
        for (const auto& [path, content] : files.files) {
            if (path.starts_with(kInstall)) folder[path] = content;
        }
        return folder;
    }

    std::string KeyOf(const State& state) {
        std::string key;
        for (const auto& [path, content] : state.folder) {
            const auto [at, added] = contents_.try_emplace(content, contents_.size());
            key.append(path.begin(), path.end()).append("=" + std::to_string(at->second) + ";");
        }
        for (const auto& set : {state.history.backups, state.history.inFlight}) {
            key += "|";
            for (const int pair : set) key += std::to_string(pair) + ",";
        }
        return key;
    }

    std::vector<State> Successors(const State& state) {
        std::vector<State> next;
        // Another program puts its pair in place; nothing else changes.
        State replaced = state;
        replaced.folder[kCertificate.installed] = pairs_[kOther].certificate;
        replaced.folder[kKey.installed] = pairs_[kOther].key;
        next.push_back(std::move(replaced));

        std::vector<std::pair<std::wstring, bool>> variants{{L"", false}, {L"", true}};
        for (const auto& [path, content] : state.folder) variants.emplace_back(path, false);
        for (const auto operation :
             {Operation::UpdateP1, Operation::UpdateP2, Operation::Restore}) {
            for (const auto& [held, removalRefused] : variants) {
                std::vector<Folder> kills;
                const auto whole = Run(state.folder, operation, held, removalRefused, 0, &kills);
                next.push_back(After(state, operation, whole));
                for (auto& killed : kills)
                    next.push_back(AfterKill(state, operation, std::move(killed)));
                // A held file or a refused removal is the run's fault: a second one is not added.
                if (!held.empty() || removalRefused) continue;
                for (int step = 1; step <= whole.steps; ++step) {
                    next.push_back(After(state, operation,
                                         Run(state.folder, operation, held, removalRefused, step)));
                }
            }
        }
        transitions_ += next.size();
        return next;
    }

    // The pairs a run may leave: what was installed or backed up when it started, what it was
    // to put in place, and what runs cut short before it were putting in place.
    PairSet Known(const State& state, Operation operation) const {
        PairSet known = state.history.inFlight;
        known.insert(Installed(state.folder));
        known.insert(Backups(state.folder));
        if (operation != Operation::Restore)
            known.insert(operation == Operation::UpdateP2 ? kP2 : kP1);
        known.erase(kNoPair);
        return known;
    }

    State After(const State& state, Operation operation, const Outcome& outcome) {
        const int installedBefore = Installed(state.folder), installed = Installed(outcome.folder);
        const int backups = Backups(outcome.folder);
        const bool hadBackups = state.folder.contains(kCertificate.backup);
        const auto known = Known(state, operation);
        const auto trace = Describe(state, operation, outcome);
        State next{outcome.folder, state.history, 0};
        if (outcome.mixedPairSaid || (!outcome.succeeded && !state.history.inFlight.empty())) {
            // Said to be completed by the next run, or a run cut short before is not completed
            // yet: still in progress.
            next.history.inFlight.insert(known.begin(), known.end());
            return next;
        }
        EXPECT_NE(installed, kNoPair) << "a run that ended left a mixed pair\n" << trace;
        EXPECT_TRUE(known.contains(installed)) << "a pair from nowhere installed\n" << trace;
        if (hadBackups || outcome.folder.contains(kCertificate.backup)) {
            EXPECT_NE(backups, kNoPair) << "the backups are not one pair\n" << trace;
        }
        if (outcome.succeeded) {
            // The backups hold the pair installed before the last run that changed it.
            PairSet expected =
                installed != installedBefore ? PairSet{installedBefore} : state.history.backups;
            expected.merge(PairSet{state.history.inFlight});
            if (!hadBackups && installed == installedBefore) expected.insert(kNoPair);
            EXPECT_TRUE(expected.contains(backups)) << "the backups lost the pair before\n"
                                                    << trace;
            next.history = {{backups}, {}};
        } else {
            // A failure leaves the backups as they were, or as a restore it completed left them.
            PairSet expected = state.history.backups;
            expected.merge(PairSet{state.history.inFlight});
            if (!hadBackups) expected.insert(kNoPair);
            EXPECT_TRUE(expected.contains(backups)) << "a failed run changed the backups\n"
                                                    << trace;
            if (backups != Backups(state.folder)) next.history.backups = {backups};
        }
        return next;
    }

    // A kill may leave any mix; but every half of the pair that was installed is still in the
    // folder, and of the backups that a restore was putting in place.
    State AfterKill(const State& state, Operation operation, Folder folder) {
        const int backups = operation == Operation::Restore ? Backups(state.folder) : kNoPair;
        for (const int pair : {Installed(state.folder), backups}) {
            if (pair == kNoPair) continue;
            for (const auto* half : {&pairs_[pair].certificate, &pairs_[pair].key}) {
                EXPECT_TRUE(
                    std::ranges::any_of(folder, [&](const auto& f) { return f.second == *half; }))
                    << "a kill lost a half of pair " << pair << "\n"
                    << Describe(state, operation, {folder, false, false});
            }
        }
        State next{std::move(folder), state.history, 0};
        next.history.inFlight.merge(Known(state, operation));
        return next;
    }

    // After any state: a clean update with the newest package succeeds, and so does a restore
    // after it, which puts back the pair installed before.
    void CheckCleanRunsSucceed(const State& state) {
        const auto update = Run(state.folder, Operation::UpdateP2, L"", false, 0);
        ASSERT_TRUE(update.succeeded) << Describe(state, Operation::UpdateP2, update);
        ASSERT_EQ(Installed(update.folder), kP2);
        const int before = Backups(update.folder);
        ASSERT_NE(before, kNoPair) << Describe(state, Operation::UpdateP2, update);
        if (before == kP2) return;  // nothing to go back to
        const auto restore = Run(update.folder, Operation::Restore, L"", false, 0);
        ASSERT_TRUE(restore.succeeded) << Describe(state, Operation::Restore, restore);
        EXPECT_EQ(Installed(restore.folder), before);
        EXPECT_EQ(Backups(restore.folder), kP2);
        for (const auto& [path, content] : restore.folder) {
            EXPECT_TRUE(path.starts_with(kCertificate.installed) ||
                        path.starts_with(kKey.installed))
                << "left behind";
            EXPECT_FALSE(path.ends_with(kStagedSuffix) || path.ends_with(kTemporarySuffix))
                << "left behind";
        }
    }

    std::string Describe(const State& state, Operation operation, const Outcome& outcome) {
        const auto list = [&](const Folder& folder) {
            std::string text;
            for (const auto& [path, content] : folder) {
                text +=
                    "  " +
                    std::string(path.begin() + static_cast<long>(kInstall.size()) + 1, path.end()) +
                    " = ";
                text += Content(content) + "\n";
            }
            return text;
        };
        static constexpr const char* kOperations[] = {"update P1", "update P2", "restore"};
        return "before (depth " + std::to_string(state.depth) + "):\n" + list(state.folder) +
               kOperations[static_cast<int>(operation)] +
               (outcome.succeeded ? " succeeded" : " failed or was killed") + ", after:\n" +
               list(outcome.folder);
    }

    std::string Content(const Bytes& content) const {
        static constexpr const char* kNames[] = {"first", "P1", "P2", "other"};
        for (std::size_t i = 0; i < pairs_.size(); ++i) {
            if (content == pairs_[i].certificate) return std::string{kNames[i]} + " certificate";
            if (content == pairs_[i].key) return std::string{kNames[i]} + " key";
        }
        return "?";
    }

    std::set<std::string> visited_;
    std::map<Bytes, std::size_t> contents_;
    std::size_t transitions_ = 0;
    std::size_t runs_ = 0;
    int deepest_ = 0;
};

// The two sequences that lost the pair a user may want back, before the states were named.
TEST(FolderStates, SequencesThatLostAPair) {
    Explorer explorer;
    const auto& pairs = explorer.pairs_;
    const auto run = [&](Folder& folder, Operation operation, bool removalRefused = false) {
        const auto outcome = explorer.Run(folder, operation, L"", removalRefused, 0);
        folder = outcome.folder;
        return outcome.succeeded;
    };
    {
        SCOPED_TRACE("a restore's staged pair, left behind, is not installed after another pair");
        Folder folder{{kCertificate.installed, pairs[Explorer::kP1].certificate},
                      {kKey.installed, pairs[Explorer::kP1].key},
                      {kCertificate.backup, pairs[Explorer::kFirst].certificate},
                      {kKey.backup, pairs[Explorer::kFirst].key}};
        EXPECT_TRUE(run(folder, Operation::Restore, true));
        EXPECT_TRUE(folder.contains(StagedPathOf(kKey)));
        folder[kCertificate.installed] = pairs[Explorer::kOther].certificate;
        folder[kKey.installed] = pairs[Explorer::kOther].key;
        EXPECT_TRUE(run(folder, Operation::Restore));
        EXPECT_EQ(explorer.Installed(folder), Explorer::kP1);
        EXPECT_EQ(explorer.Backups(folder), Explorer::kOther);
        EXPECT_EQ(folder[kKey.installed + std::wstring{kSetAsideSuffix}],
                  pairs[Explorer::kFirst].key);
        EXPECT_FALSE(folder.contains(StagedPathOf(kKey)));
    }
    {
        SCOPED_TRACE("a renewal that keeps the key can be restored");
        Folder folder{{kCertificate.installed, pairs[Explorer::kFirst].certificate},
                      {kKey.installed, pairs[Explorer::kFirst].key}};
        EXPECT_TRUE(run(folder, Operation::UpdateP1));
        EXPECT_TRUE(run(folder, Operation::UpdateP2));
        EXPECT_EQ(explorer.Backups(folder), Explorer::kP1);
        EXPECT_TRUE(run(folder, Operation::Restore));
        EXPECT_EQ(explorer.Installed(folder), Explorer::kP1);
    }
}

TEST(FolderStates, EverySequenceOfRunsFaultsAndKillsKeepsThePairs) {
    Explorer explorer;
    explorer.Explore(3);
    EXPECT_GT(explorer.States(), 100u);
    EXPECT_GE(explorer.Deepest(), 3);
}

}  // namespace
}  // namespace kdu::testing
