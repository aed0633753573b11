#pragma once

// Small in-memory stand-ins for the window's controls, the files, the text decoder and the
// shell object.

#include <openssl/evp.h>

#include <algorithm>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "platform/ErrorNumbers.h"
#include "platform/Ports.h"
#include "platform/SystemError.h"
#include "update/PackageDigests.h"

namespace kdu::testing {

// A file of the source tree, whole; empty if it cannot be read.
inline std::string SourceFile(const char* relative) {
    std::ifstream in{std::string{KDU_SOURCE_DIR} + "/" + relative, std::ios::binary};
    return {std::istreambuf_iterator<char>{in}, {}};
}

// What the fakes were asked to do, in order, for tests of exact sequences.
using Journal = std::vector<std::wstring>;

class FakeListBox : public ListBox {
public:
    void Append(std::wstring_view text) override {
        if (failingTexts.contains(std::wstring{text})) throw SystemError{8, L"no memory"};
        Note(L"Append " + std::wstring{text});
        items.emplace_back(text);
    }
    int Count() const override { return static_cast<int>(items.size()); }
    std::wstring Text(int index) const override {
        if (index < 0 || index >= Count()) throw SystemError{1413, L"invalid index"};
        return items[static_cast<std::size_t>(index)];
    }
    void Replace(int index, std::wstring_view text) override {
        if (index < 0 || index >= Count()) throw SystemError{1413, L"invalid index"};
        Note(L"Replace " + std::to_wstring(index) + L" " + std::wstring{text});
        items[static_cast<std::size_t>(index)] = text;
    }
    void Repaint() override { Note(L"Repaint"); }
    void Select(int index) override {
        if (index < 0 || index >= Count()) throw SystemError{1413, L"invalid index"};
        selected = index;
    }

    std::vector<std::wstring> items;
    int selected = -1;
    std::set<std::wstring> failingTexts;  // Append of these fails
    Journal* journal = nullptr;
    std::wstring name = L"List1";

private:
    void Note(const std::wstring& what) {
        if (journal) journal->push_back(name + L"." + what);
    }
};

class FakeButton : public PushButton {
public:
    void Disable() override {
        if (journal) journal->push_back(L"Command1.Disable");
        enabled = false;
    }
    bool enabled = true;
    Journal* journal = nullptr;
};

class FakeProgram : public RunningProgram {
public:
    std::wstring Path() override { return path; }
    std::optional<Bytes> DigestSlot() override { return digestSlot; }
    std::wstring path = L"C:\\Users\\user\\Downloads\\KestovaDesktopUpdater.exe";
    std::optional<Bytes> digestSlot = EmptyDigestSlot();  // a plain build's
};

class FakeClock : public Clock {
public:
    std::int64_t UtcSeconds() override { return now; }
    std::int64_t now = 1796688000;  // 2026-12-08 UTC
};

class FakePause : public Pause {
public:
    void Sleep(unsigned milliseconds) override {
        if (journal) {
            journal->push_back(L"Sleep " + std::to_wstring(milliseconds) +
                               (held > 0 ? L" (messages held)" : L""));
        }
        total += milliseconds;
        if (held > 0) withoutMessages += milliseconds;
    }
    void HoldMessages(bool hold) override { held += hold ? 1 : -1; }
    unsigned total = 0;
    unsigned withoutMessages = 0;  // slept while messages were held
    int held = 0;
    Journal* journal = nullptr;
};

// Programs that hold the pair, as Restart Manager would name them.
class FakeHolders : public FileHolders {
public:
    class Session : public HolderSession {
    public:
        explicit Session(FakeHolders& holders) : holders_(holders) {}
        std::vector<FileHolder> Holders() override { return holders_.holders; }
        bool AskToClose() noexcept override {
            holders_.asked = true;
            if (holders_.close) holders_.close();
            return static_cast<bool>(holders_.close);
        }
        void RestartClosed() noexcept override { holders_.restarted = true; }

    private:
        FakeHolders& holders_;
    };
    std::unique_ptr<HolderSession> Find(const std::vector<std::wstring>& files) override {
        found = files;
        return std::make_unique<Session>(*this);
    }
    std::vector<FileHolder> holders;  // none: Restart Manager names nobody
    std::function<void()> close;      // what closing them does; none: they do not close
    std::vector<std::wstring> found;  // the files asked about
    bool asked = false;
    bool restarted = false;
};

class FakeRecord : public PairRecord {
public:
    void Record(const std::wstring& version) noexcept override { value = version; }
    void Forget() noexcept override { value.reset(); }
    std::optional<std::wstring> value;  // as the registry holds it
};

class FakeShutdownBlock : public ShutdownBlock {
public:
    void RunStarts() override { ++runs, blocked = true; }
    void RunEnds() noexcept override { blocked = false; }
    bool blocked = false;
    int runs = 0;
};

class FakeErrorBox : public ErrorBox {
public:
    void Show(const SystemError& error) override {
        shown.push_back(error);
        if (whileShown) whileShown();
    }
    // Answers 重試 as long as retries are left.
    bool AskToRetry(const SystemError& error, bool holdersNamed) override {
        asked.push_back(error);
        named.push_back(holdersNamed);
        if (whileShown) whileShown();
        return retries-- > 0;
    }
    std::vector<SystemError> shown;
    std::vector<SystemError> asked;  // the boxes that offered 重試
    std::vector<bool> named;
    int retries = 0;
    std::function<void()> whileShown;  // what happens while the modal box is open
};

class FakeRunLock : public RunLock {
public:
    bool TryAcquire(const std::wstring& lockFile) override {
        if (journal) journal->push_back(L"RunLock.Acquire " + lockFile);
        if (denied) throw SystemError{kAccessDenied, L"denied", lockFile};
        if (heldByAnother > 0) {
            --heldByAnother;
            return false;
        }
        ++held;
        return true;
    }
    void Release() noexcept override {
        if (journal) journal->push_back(L"RunLock.Release");
        --held;
    }
    int held = 0;
    int heldByAnother = 0;  // tries that find the lock taken
    bool denied = false;    // the folder refuses this user the lock file
    Journal* journal = nullptr;
};

inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInjected = 1117;  // ERROR_IO_DEVICE

// Files in memory. Every operation but Exists, IsReadOnly and SameFileName counts as one step;
// failAt makes that step fail. A file's permissions and attributes are one label; encryption is a
// set.
class FakeFileSystem : public FileSystem {
public:
    Bytes ReadAll(const std::wstring& path) override {
        Step(L"ReadAll " + path);
        const Bytes& content = Readable(path);
        if (content.size() > kLargestFileRead) throw SystemError{Failure::TooLarge, path};
        return content;
    }
    bool Exists(const std::wstring& path) override { return files.contains(path); }
    // ASCII letters only ignore case here.
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override {
        const auto lower = [](auto c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : int{c}; };
        return std::equal(utf8Name.begin(), utf8Name.end(), name.begin(), name.end(),
                          [&](char a, wchar_t b) { return lower(a) == lower(b); });
    }
    void CheckReplaceable(const std::wstring& path) override {
        Step(L"CheckReplaceable " + path);
        Readable(path);
        if (readOnly.contains(path)) throw SystemError{kAccessDenied, L"", path};
        if (inUse.contains(path)) throw SystemError{kSharingViolation, L"", path};
    }
    bool IsReadOnly(const std::wstring& path) override { return readOnly.contains(path); }
    FileFacts Inspect(const std::wstring& path) override {
        Step(L"Inspect " + path);
        Readable(path);
        const auto tag = reparseTags.find(path);
        const auto count = links.find(path);
        return FileFacts{tag == reparseTags.end() ? 0u : tag->second,
                         count == links.end() ? 1u : count->second};
    }
    // Made like model before a byte is written; a failing write leaves nothing, as the real one
    // deletes what it made.
    std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                          const std::wstring& model) override {
        Readable(model);
        if (unreadablePermissions.contains(model)) throw SystemError{kAccessDenied, L"", model};
        if (files.contains(path)) throw SystemError{kFileExists, L"", path};
        Step(L"WriteNewFile " + path);
        permissions[path] = permissions[model];
        if (encrypted.contains(model)) encrypted.insert(path);
        files[path] = content;
        ++changes;
        return std::make_unique<File>(*this, path);
    }
    void Remove(const std::wstring& path) override {
        Step(L"Remove " + path);
        if (locked.contains(path) || (removalRefused && files.contains(path))) {
            throw SystemError{kSharingViolation, L"", path};
        }
        Forget(path);
    }

    // Held by this program: another program's writes there are refused (see Write).
    std::unique_ptr<HeldFile> Hold(const std::wstring& path) override {
        Step(L"Hold " + path);
        if (writers.contains(path)) throw SystemError{kSharingViolation, L"", path};
        return std::make_unique<Held>(*this, path, Readable(path));
    }
    std::wstring VirtualStoreCopyOf(const std::wstring& path) override {
        const auto copy = virtualStore.find(path);
        return copy == virtualStore.end() ? std::wstring{} : copy->second;
    }
    // Another program writes a file, unless this program holds it.
    bool Write(const std::wstring& path, const Bytes& content) {
        if (held.contains(path)) return false;
        files[path] = content;
        ++changes;
        return true;
    }

    std::map<std::wstring, Bytes> files;
    int changes = 0;  // how often a file was made, written, renamed or removed
    std::set<std::wstring> held;
    std::set<std::wstring> writers;  // open for writing by another program
    std::set<std::wstring> readOnly;
    std::set<std::wstring> locked;  // held open by another program without sharing
    std::set<std::wstring> inUse;   // held open by another program that shares reading
    bool removalRefused = false;    // a sync client or antivirus keeps every file from going
    // Held open for a moment, as antivirus does: this many more touches fail with a sharing
    // violation.
    mutable std::map<std::wstring, int> busy;
    std::map<std::wstring, std::wstring> permissions;  // DACL and attributes, as a label
    std::set<std::wstring> encrypted;
    std::set<std::wstring> unreadablePermissions;
    std::map<std::wstring, std::uint32_t> reparseTags;
    std::map<std::wstring, std::uint32_t> links;        // hard links, where more than one
    std::map<std::wstring, std::wstring> virtualStore;  // where each file's copy would be
    std::set<int> failAt;                               // 1-based steps to fail
    std::exception_ptr thrown;               // what a failing step throws instead of a SystemError
    std::uint32_t injectedCode = kInjected;  // the number a failing step's error carries
    std::function<void(const std::wstring&)> onStep;  // what other programs do as a step begins
    int steps = 0;
    Journal* journal = nullptr;

private:
    class Held : public HeldFile {
    public:
        Held(FakeFileSystem& files, std::wstring path, Bytes content)
            : files_(files), path_(std::move(path)), content_(std::move(content)) {
            files_.held.insert(path_);
        }
        ~Held() override { files_.held.erase(path_); }
        const Bytes& Content() const override { return content_; }

    private:
        FakeFileSystem& files_;
        std::wstring path_;
        Bytes content_;
    };

    // A new file, open until it is renamed into place; it goes if it never gets there.
    class File : public NewFile {
    public:
        File(FakeFileSystem& files, std::wstring path) : files_(files), path_(std::move(path)) {}
        ~File() override {
            if (!inPlace_) files_.Forget(path_);
            if (inPlace_) files_.held.erase(path_);
        }
        void RenameOver(const std::wstring& target) override {
            files_.Step(L"RenameOver " + path_ + L" " + target);
            if (files_.readOnly.contains(target)) throw SystemError{kAccessDenied, L"", target};
            if (files_.held.contains(target)) throw SystemError{kAccessDenied, L"", target};
            if (files_.locked.contains(target) || files_.inUse.contains(target)) {
                throw SystemError{kSharingViolation, L"", target};
            }
            if (auto moment = files_.busy.find(target);
                moment != files_.busy.end() && moment->second > 0) {
                --moment->second;
                throw SystemError{kSharingViolation, L"", target};
            }
            files_.files[target] = files_.files[path_];
            files_.permissions[target] = files_.permissions[path_];
            if (files_.encrypted.erase(path_)) {
                files_.encrypted.insert(target);
            } else {
                files_.encrypted.erase(target);
            }
            files_.Forget(path_);
            path_ = target;
            inPlace_ = true;
            files_.held.insert(path_);  // open with no sharing until it is closed
        }
        // Through the handle: no other program's hold on the name matters.
        void Flush() override { files_.Step(L"Flush " + path_); }

    private:
        FakeFileSystem& files_;
        std::wstring path_;
        bool inPlace_ = false;
    };

    const Bytes& Readable(const std::wstring& path) const {
        const auto file = files.find(path);
        if (file == files.end()) throw SystemError{kFileNotFound, L"not found", path};
        if (locked.contains(path)) throw SystemError{kSharingViolation, L"", path};
        if (const auto moment = busy.find(path); moment != busy.end() && moment->second > 0) {
            --moment->second;
            throw SystemError{kSharingViolation, L"", path};
        }
        return file->second;
    }
    void Forget(const std::wstring& path) {
        ++changes;
        files.erase(path);
        permissions.erase(path);
        encrypted.erase(path);
    }
    bool Failing(const std::wstring& what) {
        if (journal) journal->push_back(L"Files." + what);
        return failAt.contains(++steps);
    }
    void Step(const std::wstring& what) {
        if (onStep) onStep(what);
        if (!Failing(what)) return;
        if (thrown) std::rethrow_exception(thrown);
        throw SystemError{injectedCode, L"injected", what};
    }
};

// ANSI bytes become characters one for one; the encoding of each call is recorded.
class FakeDecoder : public TextDecoder {
public:
    std::wstring Decode(std::string_view bytes, Encoding encoding) override {
        encodings.push_back(encoding);
        std::wstring text;
        for (const char byte : bytes) text.push_back(static_cast<unsigned char>(byte));
        return text;
    }
    std::vector<Encoding> encodings;
};

class FakeShell : public Shell {
public:
    class Object : public ShellObject {
    public:
        explicit Object(FakeShell& shell) : shell_(shell) { ++shell_.alive; }
        ~Object() override { --shell_.alive; }
        RegistryValue RegRead(const std::wstring& valuePath) override {
            shell_.readPaths.push_back(valuePath);
            if (!shell_.value) throw SystemError{0x80070002, L"absent", valuePath};
            return *shell_.value;
        }

    private:
        FakeShell& shell_;
    };

    std::unique_ptr<ShellObject> CreateShellObject() override {
        if (unavailable) throw SystemError{0x800401F3, L"invalid class string"};
        return std::make_unique<Object>(*this);
    }
    RegistryValue ReadValue(const std::wstring& valuePath) override {
        directPaths.push_back(valuePath);
        if (!value) throw SystemError{2, L"absent", valuePath};
        return *value;
    }

    std::optional<RegistryValue> value;  // nothing: the value is absent
    bool unavailable = false;
    int alive = 0;
    std::vector<std::wstring> readPaths;
    std::vector<std::wstring> directPaths;  // read without the shell object
};

// A fake for every service; services refers to them, so it is never copied.
struct FakeServices {
    FakeServices() = default;
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    FakeFileSystem files;
    FakeProgram program;
    FakeDecoder decoder;
    FakeShell shell;
    FakePause pause;
    FakeRunLock runLock;
    FakeClock clock;
    FakeHolders holders;
    FakeRecord record;
    Services services{files, program, decoder, shell, pause, runLock, clock, holders, record};
};

// Form1 with a fake for everything it uses.
struct FakeForm : FakeServices {
    FakeListBox list1;
    FakeListBox list2;
    FakeButton command1;
    FakeErrorBox errors;
    FakeShutdownBlock shutdownBlock;
    Form1 form{Controls(), services};

    // A new start of the program: a new window over the same files, registry and controls.
    void NewForm() {
        std::destroy_at(&form);
        std::construct_at(&form, Controls(), services);
    }
    Form1Controls Controls() { return {list1, list2, command1, errors, shutdownBlock}; }
};

}  // namespace kdu::testing
