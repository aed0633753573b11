// Every sequence of runs, faults and kills, explored as a graph of install folder states: each
// state (the folder's names and contents, and the history its invariants need) visited once,
// breadth first, with every operation and every fault applied to it.

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <iostream>

#include "tests/package/TestCredentials.h"
#include "tests/unit/Fakes.h"
#include "update/CredentialReplacement.h"

namespace kdu::testing {
namespace {

const CredentialPaths kPaths =
    ComposePaths(L"C:\\Downloads", L"C:\\Kestova", L"Certificate.pem", L"PrivateKey.pem");
const Swap& kCertificate = kPaths.swaps[kCertificateSwap];
const Swap& kKey = kPaths.swaps[kPrivateKeySwap];

using Folder = std::map<std::wstring, Bytes>;  // the install folder's files
// Pairs by index, older to newer: first, other, P1, then P2, a renewal of P1 keeping its key.
enum Pair { kNoBackups = -2, kNoPair = -1, kFirst, kP1, kP2, kOther };
enum class Run { UpdateP1, UpdateP2, Restore };
enum Ended { kFailed, kSucceeded, kMixedPairSaid };  // the last: completed by the next run

// The pairs the backups may hold (the one installed before the last run that changed it), and the
// pairs that runs cut short since had installed or were putting in place.
struct History {
    std::set<int> backups{kNoBackups}, inFlight;
    friend bool operator<(const History& a, const History& b) {
        return std::tie(a.backups, a.inFlight) < std::tie(b.backups, b.inFlight);
    }
};
struct State {
    Folder folder;
    History history{};
};

class Explorer {
public:
    Explorer() {
        namespace made = package::testing;
        const auto first = made::NewKey(), p1 = made::NewKey(), other = made::NewKey();
        for (const auto& [key, from] : {std::pair{first.get(), -4000L},
                                        {p1.get(), -2000L},
                                        {p1.get(), -1000L},
                                        {other.get(), -3000L}}) {
            pairs.push_back({made::CertificatePem(key, FakeClock{}.now, from, 31536000),
                             made::PrivateKeyPem(key)});
        }
    }

    // One run: how it ended, and the folder after it; where kills are asked for, the folder
    // before each step that follows a change.
    Ended Do(Folder& folder, Run run, const std::wstring& held = {}, bool removalRefused = false,
             int failAt = 0, std::vector<Folder>* kills = nullptr, int* steps = nullptr) {
        FakeServices fakes;
        auto& files = fakes.files;
        files.files = folder;
        const auto& package = pairs[run == Run::UpdateP2 ? kP2 : kP1];
        std::tie(files.files[kCertificate.incoming], files.files[kKey.incoming]) = package;
        files.locked = {held};
        files.removalRefused = removalRefused;
        files.failAt = {failAt};
        const auto inFolder = [&] {
            Folder in;
            for (const auto& [path, content] : files.files) {
                if (path.starts_with(L"C:\\Kestova")) in.emplace(path, content);
            }
            return in;
        };
        if (kills)
            files.onStep = [&](auto&) {
                if (auto now = inFolder(); kills->empty() || kills->back() != now)
                    kills->push_back(now);
            };
        Ended ended = kSucceeded;
        try {
            run == Run::Restore ? RestoreCredentials(fakes.services, kPaths)
                                : ReplaceCredentials(fakes.services, kPaths);
        } catch (const SystemError& error) {
            const bool mixed = !error.Remark().empty() && error.Remark().find(kSetAside) != 0;
            ended = mixed ? kMixedPairSaid : kFailed;
        }
        if (steps) *steps = files.steps;
        folder = inFolder();
        return ended;
    }

    int PairOf(const Folder& folder, const Swap& certificate, const Swap& key,
               bool backup = false) const {
        const auto c = folder.find(backup ? certificate.backup : certificate.installed);
        const auto k = folder.find(backup ? key.backup : key.installed);
        for (int i = 0; c != folder.end() && k != folder.end() && i < 4; ++i) {
            if (pairs[i].first == c->second && pairs[i].second == k->second) return i;
        }
        return kNoPair;
    }
    int Installed(const Folder& f) const { return PairOf(f, kCertificate, kKey); }
    int Backups(const Folder& f) const {
        const bool none = !f.contains(kCertificate.backup) && !f.contains(kKey.backup);
        return none ? kNoBackups : PairOf(f, kCertificate, kKey, true);
    }

    std::vector<std::pair<Bytes, Bytes>> pairs;
};

std::string Describe(const Explorer& e, const State& before, Run run, const Folder& after) {
    std::ostringstream text;
    text << "run " << static_cast<int>(run) << " from installed " << e.Installed(before.folder)
         << ", backups " << e.Backups(before.folder) << " (" << before.folder.size()
         << " files) to installed " << e.Installed(after) << ", backups " << e.Backups(after)
         << " (" << after.size() << " files)";
    return text.str();
}

// After a run: whether it completed, failed or was killed, the invariants, and the history.
State Checked(const Explorer& e, const State& before, Run run, Folder after, bool killed,
              Ended ended) {
    const int installedBefore = e.Installed(before.folder),
              backupsBefore = e.Backups(before.folder);
    const int installed = e.Installed(after), backups = e.Backups(after);
    // What may be installed or backed up after the run: what was, what it puts in place, and what
    // runs cut short before it were putting in place.
    std::set<int> known = before.history.inFlight;
    known.insert({installedBefore, backupsBefore});
    if (run != Run::Restore) known.insert(run == Run::UpdateP2 ? kP2 : kP1);
    known.erase(kNoPair);
    State next{std::move(after), before.history};
    if (killed || ended == kMixedPairSaid ||
        (ended == kFailed && !before.history.inFlight.empty())) {
        // Still in progress: every half of the pair installed (and a restore's backups) is kept.
        for (const int pair : {installedBefore, run == Run::Restore ? backupsBefore : kNoPair}) {
            if (pair < 0) continue;
            for (const auto* half : {&e.pairs[pair].first, &e.pairs[pair].second}) {
                EXPECT_TRUE(
                    std::ranges::any_of(next.folder, [&](auto& f) { return f.second == *half; }))
                    << "a half lost: " << Describe(e, before, run, next.folder);
            }
        }
        next.history.inFlight = known;
        next.history.inFlight.erase(kNoBackups);
        return next;
    }
    EXPECT_NE(installed, kNoPair) << "no pair installed: " << Describe(e, before, run, next.folder);
    EXPECT_TRUE(known.contains(installed) && known.contains(backups))
        << "a pair from nowhere: " << Describe(e, before, run, next.folder);
    // The backups hold the pair installed before the last run that changed it; a failure leaves
    // them.
    const bool changed = ended == kSucceeded && installed != installedBefore;
    std::set<int> expected = changed ? std::set{installedBefore} : before.history.backups;
    expected.insert(before.history.inFlight.begin(), before.history.inFlight.end());
    EXPECT_TRUE(expected.contains(backups))
        << "the backups lost the pair before: " << Describe(e, before, run, next.folder);
    next.history = {{backups}, {}};
    return next;
}

// From any state, a clean update succeeds, and a clean restore after it puts the pair before back
// and leaves only the pairs and set-aside files.
void CheckCleanRunsSucceed(Explorer& e, Folder folder) {
    ASSERT_EQ(e.Do(folder, Run::UpdateP2), kSucceeded);
    const int before = e.Backups(folder);
    ASSERT_EQ(e.Installed(folder), kP2);
    ASSERT_GE(before, 0);
    if (before == kP2) return;
    ASSERT_EQ(e.Do(folder, Run::Restore), kSucceeded);
    EXPECT_EQ(e.Installed(folder), before);
    for (const auto& [path, content] : folder) {
        EXPECT_TRUE(path.find(kSetAsideSuffix) != std::wstring::npos || path.ends_with(L".pem") ||
                    path.ends_with(L".pem_old"))
            << "left behind";
    }
}

// The two sequences that lost the pair a user may want back, before the states were named.
TEST(FolderStates, SequencesThatLostAPair) {
    Explorer e;
    Folder folder{{kCertificate.installed, e.pairs[kP1].first},
                  {kKey.installed, e.pairs[kP1].second},
                  {kCertificate.backup, e.pairs[kFirst].first},
                  {kKey.backup, e.pairs[kFirst].second}};
    EXPECT_EQ(e.Do(folder, Run::Restore, {}, true), kSucceeded);  // its staged pair is kept
    std::tie(folder[kCertificate.installed], folder[kKey.installed]) = e.pairs[kOther];
    EXPECT_EQ(e.Do(folder, Run::Restore), kSucceeded);
    EXPECT_EQ(e.Installed(folder), kP1) << "the stale staged pair is not installed";
    EXPECT_EQ(folder[kKey.installed + std::wstring{kSetAsideSuffix}], e.pairs[kFirst].second);

    folder = {{kCertificate.installed, e.pairs[kFirst].first},
              {kKey.installed, e.pairs[kFirst].second}};
    for (const auto run : {Run::UpdateP1, Run::UpdateP2, Run::Restore}) {
        EXPECT_EQ(e.Do(folder, run), kSucceeded);  // P2 is a renewal that keeps P1's key
    }
    EXPECT_EQ(e.Installed(folder), kP1);
}

TEST(FolderStates, EverySequenceOfRunsFaultsAndKillsKeepsThePairs) {
    const auto start = std::chrono::steady_clock::now();
    Explorer e;
    std::map<std::pair<Folder, History>, int> depthOf;
    std::deque<State> queue{{{{kCertificate.installed, e.pairs[kFirst].first},
                              {kKey.installed, e.pairs[kFirst].second}}}};
    depthOf[{queue[0].folder, queue[0].history}] = 0;
    std::size_t transitions = 0;
    for (; !queue.empty() && !HasFailure(); queue.pop_front()) {
        const State& state = queue.front();
        const int depth = depthOf[{state.folder, state.history}];
        CheckCleanRunsSucceed(e, state.folder);
        if (depth == 3) continue;
        std::vector<State> next{state};
        std::tie(next[0].folder[kCertificate.installed], next[0].folder[kKey.installed]) =
            e.pairs[kOther];
        for (const auto run : {Run::UpdateP1, Run::UpdateP2, Run::Restore}) {
            std::vector<std::pair<std::wstring, bool>> faults{{L"", false}, {L"", true}};
            for (const auto& [path, content] : state.folder) faults.emplace_back(path, false);
            for (const auto& [held, refused] : faults) {
                std::vector<Folder> kills;
                int steps = 0;
                Folder after = state.folder;
                const Ended ended = e.Do(after, run, held, refused, 0, &kills, &steps);
                next.push_back(Checked(e, state, run, after, false, ended));
                for (auto& killed : kills)
                    next.push_back(Checked(e, state, run, killed, true, kFailed));
                // A held file or a refused removal is the run's fault: no second one is added.
                for (int step = 1; held.empty() && !refused && step <= steps; ++step) {
                    after = state.folder;
                    const Ended failed = e.Do(after, run, {}, false, step);
                    next.push_back(Checked(e, state, run, after, false, failed));
                }
            }
        }
        transitions += next.size();
        for (auto& n : next) {
            if (depthOf.try_emplace({n.folder, n.history}, depth + 1).second)
                queue.push_back(std::move(n));
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cout << "explored " << depthOf.size() << " folder states and " << transitions
              << " transitions, to sequences of 3 operations, in " << took.count() << " s\n";
    EXPECT_GT(depthOf.size(), 1000u);
}

}  // namespace
}  // namespace kdu::testing
