// Every sequence of runs, faults, kills and other programs' changes, explored as a graph of
// install folder states: each state (the folder's names and contents, and the history its
// invariants need) visited once, breadth first, with every operation and every fault applied to
// it; for keys that can be compared with their certificates, and for keys that cannot.

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
// Pairs by index, older to newer: first, P1, P2 (a renewal of P1 keeping its key), another
// program's, and the one another program writes during a run.
enum Pair { kNoBackups = -2, kNoPair = -1, kFirst, kP1, kP2, kOther, kWritten, kPairs };
enum class Operation { UpdateP1, UpdateP2, Restore };
enum Ended { kFailed, kSucceeded, kMixedPairSaid };  // the last: mended by the next run

// What goes wrong in a run: a file held open for the whole run, every removal refused, one step
// failing or every step from it on (a disk that fills), or another program writing its own pair
// as a step begins.
struct Fault {
    std::wstring held = {};
    bool removalRefused = false;
    int failAt = 0;
    bool failFromThereOn = false;
    int writerAt = 0;
};

// The pairs the backups may hold (the one installed before the last run that changed it; kNoPair
// where another program has written them), and the pairs that runs cut short since had
// installed or were putting in place.
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
    explicit Explorer(bool comparable) {
        namespace made = package::testing;
        const auto key = [&] { return comparable ? made::NewKey() : made::NewEd25519Key(); };
        const auto first = key(), p1 = key(), other = key(), writers = key();
        for (const auto& [k, from] : {std::pair{first.get(), -4000L},
                                      {p1.get(), -2000L},
                                      {p1.get(), -1000L},
                                      {other.get(), -3000L},
                                      {writers.get(), -3500L}}) {
            pairs.push_back(
                {made::CertificatePem(k, FakeClock{}.now, from, 31536000), made::PrivateKeyPem(k)});
        }
    }

    // One run: how it ended, and the folder after it; where kills are asked for, the folder
    // before each step that follows a change.
    Ended Do(Folder& folder, Operation run, const Fault& fault = {},
             std::vector<Folder>* kills = nullptr, int* steps = nullptr) {
        FakeServices fakes;
        auto& files = fakes.files;
        files.files = folder;
        const auto& package = pairs[run == Operation::UpdateP2 ? kP2 : kP1];
        std::tie(files.files[kCertificate.incoming], files.files[kKey.incoming]) = package;
        files.locked = {fault.held};
        files.removalRefused = fault.removalRefused;
        for (int step = fault.failAt; step > 0 && (step == fault.failAt || fault.failFromThereOn) &&
                                      step < fault.failAt + 500;
             ++step) {
            files.failAt.insert(step);
        }
        const auto inFolder = [&] {
            Folder in;
            for (const auto& [path, content] : files.files) {
                if (path.starts_with(L"C:\\Kestova")) in.emplace(path, content);
            }
            return in;
        };
        int seen = -1;  // the changes the last snapshot saw
        files.onStep = [&](const std::wstring& step) {
            if (kills && files.changes != seen) {
                seen = files.changes;
                if (auto now = inFolder(); kills->empty() || kills->back() != now) {
                    kills->push_back(now);
                }
            }
            // It writes its pair whole, or not at all where this program holds a file of it;
            // between two steps, never inside one: the program gives up its hold on a file right
            // before it renames over it, with nothing between.
            const bool renamingOver = step.starts_with(L"RenameOver ") &&
                                      (step.ends_with(L" " + kCertificate.installed) ||
                                       step.ends_with(L" " + kKey.installed));
            if (fault.writerAt && files.steps + 1 == fault.writerAt && !renamingOver &&
                !files.held.contains(kCertificate.installed) &&
                !files.held.contains(kKey.installed)) {
                files.Write(kCertificate.installed, pairs[kWritten].first);
                files.Write(kKey.installed, pairs[kWritten].second);
                written = true;
            }
        };
        written = false;
        Ended ended = kSucceeded;
        try {
            run == Operation::Restore ? RestoreCredentials(fakes.services, kPaths)
                                      : ReplaceCredentials(fakes.services, kPaths);
        } catch (const SystemError& error) {
            const bool mixed = !error.Remark().empty() && error.Remark().find(kSetAside) != 0;
            ended = mixed ? kMixedPairSaid : kFailed;
        }
        if (steps) *steps = files.steps;
        folder = inFolder();
        return ended;
    }

    int PairOf(const Folder& folder, const std::wstring& certificate,
               const std::wstring& key) const {
        const auto c = folder.find(certificate);
        const auto k = folder.find(key);
        for (int i = 0; c != folder.end() && k != folder.end() && i < kPairs; ++i) {
            if (pairs[i].first == c->second && pairs[i].second == k->second) return i;
        }
        return kNoPair;
    }
    int Installed(const Folder& f) const {
        return PairOf(f, kCertificate.installed, kKey.installed);
    }
    int Backups(const Folder& f) const {
        const bool none = !f.contains(kCertificate.backup) && !f.contains(kKey.backup);
        return none ? kNoBackups : PairOf(f, kCertificate.backup, kKey.backup);
    }
    // Whether both halves of a pair are in the folder under names the next runs know: installed,
    // backed up, staged by a restore, kept by an update, or set aside where another program's
    // change left no way to put it back (never only in a temporary file).
    bool Kept(const Folder& f, int pair) const {
        const auto under = [&](const Bytes& half, const Swap& swap) {
            return std::ranges::any_of(
                std::array{swap.installed, swap.backup, StagedPathOf(swap), PreviousPathOf(swap),
                           swap.installed + std::wstring{kSetAsideSuffix}},
                [&](const std::wstring& name) { return f.contains(name) && f.at(name) == half; });
        };
        return pair < 0 ||
               (under(pairs[pair].first, kCertificate) && under(pairs[pair].second, kKey));
    }

    std::vector<std::pair<Bytes, Bytes>> pairs;
    bool written = false;  // the last run's writer put its pair in place
};

// The files before and after a run, each by the half it holds ("1k": the key of pair 1).
std::string Describe(const Explorer& e, const State& before, Operation run, const Folder& after) {
    std::ostringstream text;
    text << "run " << static_cast<int>(run);
    for (const auto* folder : {&before.folder, &after}) {
        text << (folder == &after ? "; after:" : "; before:");
        for (const auto& [path, content] : *folder) {
            text << " " << std::string(path.begin() + 11, path.end()) << "=";
            for (int i = 0; i < kPairs; ++i) {
                if (content == e.pairs[i].first) text << i << "c";
                if (content == e.pairs[i].second) text << i << "k";
            }
        }
    }
    return text.str();
}

// After a run: whether it completed, failed or was killed, the invariants, and the history. A run
// that met another program's writer may end with that program's pair.
State Checked(const Explorer& e, const State& before, Operation run, Folder after, bool killed,
              Ended ended, bool writer = false) {
    const auto& [backedUp, inFlight] = before.history;
    const int installedBefore = e.Installed(before.folder),
              backupsBefore = e.Backups(before.folder);
    const int installed = e.Installed(after), backups = e.Backups(after);
    const int runPair = run == Operation::UpdateP2 ? kP2 : kP1;
    // What may be installed or backed up after the run: what was, what it puts in place, what
    // runs cut short before it were putting in place; a mixed pair only where one was there, or
    // backed up (a restore cannot tell one of keys that cannot be compared).
    std::set<int> known = inFlight;
    known.insert({installedBefore, backupsBefore});
    if (run != Operation::Restore) known.insert(runPair);
    if (installedBefore != kNoPair && !inFlight.contains(kNoPair) &&
        !(run == Operation::Restore && backupsBefore == kNoPair)) {
        known.erase(kNoPair);
    }
    // An update whose pair is in place, with the pair before it as the backups, has completed,
    // whatever is left to remove; until then the pairs the backups may hold are promised, and so
    // is the pair installed, unless another program replaced it during the run.
    const bool updateInPlace =
        (installed == kP1 || installed == kP2) &&
        (inFlight.contains(installed) || (run != Operation::Restore && installed == runPair)) &&
        backups != installed && known.contains(backups);
    std::set<int> promised = updateInPlace ? std::set<int>{} : backedUp;
    if (!writer) promised.insert(installedBefore);
    const bool kept = std::ranges::all_of(promised, [&](int pair) { return e.Kept(after, pair); });
    const bool settled = std::ranges::none_of(after, [](const auto& file) {
        return file.first.ends_with(kJournalFile) || file.first.ends_with(kPreviousSuffix) ||
               file.first.ends_with(kStagedSuffix);
    });
    State next{std::move(after), before.history};
    if (killed || ended == kMixedPairSaid || (ended == kFailed && !inFlight.empty() && !settled)) {
        EXPECT_TRUE(kept) << "a pair lost: " << Describe(e, before, run, next.folder);
        next.history.inFlight = known;
        next.history.inFlight.erase(kNoBackups);
        if (updateInPlace) next.history.backups = {backups};
        return next;
    }
    next.history = {{backups}, {}};
    // Where another program wrote during the run, or changed the folder under a run cut short
    // (the journal can then no longer tell whether that run completed), the folder may end with
    // any pair it held, so long as none is lost.
    if (writer || (before.folder.contains(kPaths.journal) && !inFlight.contains(installedBefore))) {
        EXPECT_TRUE(kept && (known.contains(installed) || e.Kept(before.folder, installed) ||
                             installed == kWritten))
            << "a pair lost: " << Describe(e, before, run, next.folder);
        return next;
    }
    EXPECT_TRUE(known.contains(installed) || installed == installedBefore)
        << "a pair from nowhere: " << Describe(e, before, run, next.folder);
    // The backups hold the pair installed before the last run that changed it (backups another
    // program wrote over may go); a failure leaves them.
    const bool changed = ended == kSucceeded && installed != installedBefore;
    std::set<int> expected = changed ? std::set{installedBefore} : backedUp;
    expected.insert(inFlight.begin(), inFlight.end());
    if (backedUp.contains(kNoPair)) expected.insert(kNoBackups);
    EXPECT_TRUE(expected.contains(backups))
        << "the backups lost the pair before: " << Describe(e, before, run, next.folder);
    return next;
}

// From any state, a clean update succeeds, and a clean restore after it puts the pair before back
// and leaves only the pairs and set-aside files. Where another program took an installed half
// away, a restore puts the backups back, where they are whole.
void CheckCleanRunsSucceed(Explorer& e, Folder folder) {
    SCOPED_TRACE(Describe(e, State{folder}, Operation::UpdateP2, folder));
    if (!folder.contains(kCertificate.installed) || !folder.contains(kKey.installed)) {
        const int backups = e.Backups(folder);
        if (backups < 0) return;
        ASSERT_EQ(e.Do(folder, Operation::Restore), kSucceeded);
        ASSERT_EQ(e.Installed(folder), backups) << "the whole backups, installed";
    }
    ASSERT_EQ(e.Do(folder, Operation::UpdateP2), kSucceeded);
    const int before = e.Backups(folder);
    ASSERT_EQ(e.Installed(folder), kP2);
    if (before < 0) return;  // none: the update found the folder with no installed pair of ours
    if (before == kP2) return;
    ASSERT_EQ(e.Do(folder, Operation::Restore), kSucceeded);
    EXPECT_EQ(e.Installed(folder), before);
    for (const auto& [path, content] : folder) {
        EXPECT_TRUE(path.find(kSetAsideSuffix) != std::wstring::npos || path.ends_with(L".pem") ||
                    path.ends_with(L".pem_old"))
            << "left behind";
    }
}

// What other programs do to the folder between runs, each as a state of its own: put their own
// pair in place, take one installed half away or replace it with their own, delete the backups,
// or write over one of them.
std::vector<State> ChangedByOthers(const Explorer& e, const State& state) {
    std::vector<State> changed(5, state);
    std::tie(changed[0].folder[kCertificate.installed], changed[0].folder[kKey.installed]) =
        e.pairs[kOther];
    changed[1].folder.erase(kKey.installed);
    changed[2].folder[kCertificate.installed] = e.pairs[kOther].first;
    changed[3].folder.erase(kCertificate.backup);
    changed[3].folder.erase(kKey.backup);
    changed[3].history.backups = {kNoBackups};
    changed[4].folder[kKey.backup] = "an edited key";
    changed[4].history.backups = {kNoPair};
    return changed;
}

// A sequence of runs and changes, each checked as the explorer checks it.
struct Sequence {
    const char* name;
    bool comparable;
    std::function<void(Explorer&, State&)> steps;
};

// The sequences that lost a pair a user may want back, each before its mending.
TEST(FolderStates, SequencesThatLostAPair) {
    const auto run = [](Explorer& e, State& s, Operation r, const Fault& fault = {}) {
        Folder after = s.folder;
        s = Checked(e, s, r, after, false, e.Do(after, r, fault), fault.writerAt != 0);
    };
    const auto firstPairInstalled = [](Explorer& e) {
        return State{{{kCertificate.installed, e.pairs[kFirst].first},
                      {kKey.installed, e.pairs[kFirst].second}}};
    };
    const Sequence sequences[] = {
        {"a restore's staged pair left behind, then another pair put in place, then /restore", true,
         [&](Explorer& e, State& s) {
             run(e, s, Operation::UpdateP1);
             run(e, s, Operation::Restore, {.removalRefused = true});  // its staged pair is kept
             s = ChangedByOthers(e, s)[0];
             run(e, s, Operation::Restore);
             EXPECT_EQ(e.Installed(s.folder), kP1) << "the stale staged pair is not installed";
             EXPECT_EQ(s.folder[kKey.installed + std::wstring{kSetAsideSuffix}],
                       e.pairs[kFirst].second);
         }},
        {"keys that cannot be compared: a renewal that keeps the key, then /restore", false,
         [&](Explorer& e, State& s) {
             for (const auto r : {Operation::UpdateP1, Operation::UpdateP2, Operation::Restore})
                 run(e, s, r);
             EXPECT_EQ(e.Installed(s.folder), kP1);
         }},
        {"an update killed after its backups' renames, then /restore", true,
         [&](Explorer& e, State& s) {
             run(e, s, Operation::UpdateP1);
             std::vector<Folder> kills;
             Folder after = s.folder;
             e.Do(after, Operation::UpdateP2, {}, &kills);
             const auto renamed =
                 std::ranges::find_if(kills, [&](const Folder& f) { return e.Backups(f) == kP1; });
             ASSERT_NE(renamed, kills.end());
             s = Checked(e, s, Operation::UpdateP2, *renamed, true, kFailed);
             run(e, s, Operation::Restore);
             EXPECT_EQ(e.Installed(s.folder), kFirst) << "the pair before the last completed run";
         }},
        {"another program's pair put in place during a run", true,
         [&](Explorer& e, State& s) {
             int steps = 0;
             Folder probe = s.folder;
             e.Do(probe, Operation::UpdateP1, {}, nullptr, &steps);
             for (int at = 1; at <= steps && !HasFailure(); ++at) {
                 State tried = s;
                 run(e, tried, Operation::UpdateP1, {.writerAt = at});
                 EXPECT_TRUE(!e.written || e.Kept(tried.folder, kWritten)) << "step " << at;
             }
         }},
        {"one installed half quarantined, then /restore", true,
         [&](Explorer& e, State& s) {
             run(e, s, Operation::UpdateP1);
             s = ChangedByOthers(e, s)[1];
             run(e, s, Operation::Restore);
             EXPECT_EQ(e.Installed(s.folder), kFirst) << "the whole backups";
         }},
    };
    for (const auto& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        Explorer e{sequence.comparable};
        State state = firstPairInstalled(e);
        sequence.steps(e, state);
    }
}

// How deep each kind of operation goes: sequences of runs, each completing, failing at one step,
// killed before one, or meeting a held file or a refused removal, to kDepth operations (keys
// that cannot be compared, a sequence shorter); other programs' changes between runs, two
// faults in one run and a writer during one, in the first of them.
constexpr int kDepth = 3;
constexpr int kOthersDepth = 2, kTwoFaultsDepth = 1, kWriterDepth = 1;

TEST(FolderStates, EverySequenceOfRunsFaultsAndKillsKeepsThePairs) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t states = 0, transitions = 0;
    for (const bool comparable : {true, false}) {
        const int depthLimit = comparable ? kDepth : kDepth - 1;
        Explorer e{comparable};
        std::map<std::pair<Folder, History>, int> depthOf;
        std::deque<State> queue{{{{kCertificate.installed, e.pairs[kFirst].first},
                                  {kKey.installed, e.pairs[kFirst].second}}}};
        depthOf[{queue[0].folder, queue[0].history}] = 0;
        for (; !queue.empty() && !HasFailure(); queue.pop_front()) {
            const State& state = queue.front();
            const int depth = depthOf[{state.folder, state.history}];
            CheckCleanRunsSucceed(e, state.folder);
            if (depth == depthLimit) continue;
            std::vector<State> next;
            if (depth < kOthersDepth) next = ChangedByOthers(e, state);
            // Another program writing during a run is explored where the run has nothing an
            // interrupted run left to settle first: between the run's read and its renames.
            const bool settled = std::ranges::none_of(state.folder, [](const auto& file) {
                return file.first.ends_with(kJournalFile) ||
                       file.first.ends_with(kPreviousSuffix) || file.first.ends_with(kStagedSuffix);
            });
            for (const auto run : {Operation::UpdateP1, Operation::UpdateP2, Operation::Restore}) {
                std::vector<Fault> faults{{}, {.removalRefused = true}};
                for (const auto& [path, content] : state.folder) faults.push_back({.held = path});
                for (const auto& fault : faults) {
                    std::vector<Folder> kills;
                    int steps = 0;
                    Folder after = state.folder;
                    const Ended ended = e.Do(after, run, fault, &kills, &steps);
                    next.push_back(Checked(e, state, run, after, false, ended));
                    for (auto& killed : kills) {
                        next.push_back(Checked(e, state, run, killed, true, kFailed));
                    }
                    // A held file or a refused removal is the run's fault: no second one added.
                    if (!fault.held.empty() || fault.removalRefused) continue;
                    for (int step = 1; step <= steps; ++step) {
                        for (const bool fromThereOn : {false, true}) {
                            if (fromThereOn && depth >= kTwoFaultsDepth) continue;
                            after = state.folder;
                            const Ended failed =
                                e.Do(after, run, {.failAt = step, .failFromThereOn = fromThereOn});
                            SCOPED_TRACE("failing at step " + std::to_string(step) +
                                         (fromThereOn ? " and every step after" : ""));
                            next.push_back(Checked(e, state, run, after, false, failed));
                        }
                        if (!settled || depth >= kWriterDepth) continue;
                        after = state.folder;
                        const Ended written = e.Do(after, run, {.writerAt = step});
                        SCOPED_TRACE("another program writing at step " + std::to_string(step));
                        next.push_back(Checked(e, state, run, after, false, written, true));
                    }
                }
            }
            transitions += next.size();
            for (auto& n : next) {
                if (depthOf.try_emplace({n.folder, n.history}, depth + 1).second) {
                    queue.push_back(std::move(n));
                }
            }
        }
        states += depthOf.size();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cout << "explored " << states << " folder states and " << transitions
              << " transitions, to sequences of " << kDepth << " operations (" << kDepth - 1
              << " for keys that cannot be compared), in " << took.count() << " s\n";
    EXPECT_GT(states, 2000u);
}

}  // namespace
}  // namespace kdu::testing
