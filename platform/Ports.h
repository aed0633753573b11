#pragma once

// The operations the program needs from Windows, as small interfaces. The window, start-up
// and update logic call only these; platform/win32 implements them, the unit tests fake them.
// Every operation reports failure by throwing (kdu::SystemError for what the system refused).

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Sha256.h"
#include "platform/SystemError.h"

namespace kdu {

// Raw file content.
using Bytes = std::string;

class ListBox {
public:
    virtual ~ListBox() = default;
    virtual void Append(std::wstring_view text) = 0;
    virtual int Count() const = 0;
    virtual std::wstring Text(int index) const = 0;
    virtual void Replace(int index, std::wstring_view text) = 0;
    // Paints the list now, so that a change shows while the UI thread is busy.
    virtual void Repaint() = 0;
    // Selects a row: the system tells screen readers, which then say it.
    virtual void Select(int index) = 0;
};

class PushButton {
public:
    virtual ~PushButton() = default;
    virtual void Disable() = 0;
};

// Big5 is code page 950, whatever the system's ANSI code page.
enum class Encoding { Big5, Utf8 };

class TextDecoder {
public:
    virtual ~TextDecoder() = default;
    // Converts bytes of the given encoding to text; undecodable bytes become replacement
    // characters, never a failure.
    virtual std::wstring Decode(std::string_view bytes, Encoding encoding) = 0;
};

// The most a file read whole may hold (a certificate chain, a key or the message file is a few
// kilobytes); a larger one is refused (Failure::TooLarge) rather than exhausting a 32-bit address
// space.
inline constexpr std::uint64_t kLargestFileRead = std::uint64_t{64} << 20;

// What the replacement must know of an installed file before it puts another in its place.
struct FileFacts {
    std::uint32_t reparseTag = 0;  // the file's reparse point tag; 0 if it has none
    std::uint32_t links = 1;       // hard links: the names the same file has
};

// Whether a reparse point makes its path name another file: symbolic links, junctions and mount
// points, which Windows marks as name surrogates. OneDrive's placeholders, deduplicated and
// WOF-compressed files are reparse points too, but plain files to the user.
constexpr bool IsNameSurrogate(std::uint32_t reparseTag) { return (reparseTag & 0x20000000u) != 0; }

// A new file being written beside the file whose place it takes, kept open from its creation
// until it is in place, so that no other program's open of it comes between the steps. Destroyed
// before it is renamed into place, it deletes itself: a failed run removes what it made itself,
// and nothing else.
class NewFile {
public:
    virtual ~NewFile() = default;
    // Renames the file over target, in the same folder, in one step, through its open handle; a
    // read-only target is refused.
    virtual void RenameOver(const std::wstring& target) = 0;
    // The same, tried once whatever it meets: the second rename of a pair, which nothing may
    // come before.
    virtual void RenameOverAtOnce(const std::wstring& target) { RenameOver(target); }
    // Writes what the system still holds of the file (once renamed, its new name too) to the
    // disk.
    virtual void Flush() = 0;
};

// An existing file held open so that no other program can write, rename or delete it while the
// object lives (others may still read it), with its content as read through that hold.
class HeldFile {
public:
    virtual ~HeldFile() = default;
    virtual const Bytes& Content() const = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // A whole file of at most kLargestFileRead bytes, read with every kind of sharing: it never
    // fails for, nor blocks, a program that has the file open. A file that grows or shrinks
    // while it is read fails (Failure::ChangedDuringRun).
    virtual Bytes ReadAll(const std::wstring& path) = 0;

    virtual bool Exists(const std::wstring& path) = 0;
    // Whether a name read from a UTF-8 list is name, as Windows compares the names of files
    // in one folder (ordinal, ignoring case).
    virtual bool SameFileName(std::string_view utf8Name, std::wstring_view name) = 0;
    // Fails unless the existing file can be renamed over now: not read-only, and open in no other
    // program, even one that shares it (the access and sharing the rename needs: DELETE, and no
    // sharing at all).
    virtual void CheckReplaceable(const std::wstring& path) = 0;
    // Whether the file has the read-only attribute: a refusal that waiting does not change.
    virtual bool IsReadOnly(const std::wstring& path) = 0;
    // The facts of an existing file itself, not of one a link there points to.
    virtual FileFacts Inspect(const std::wstring& path) = 0;
    // Writes content to a new file made like model, an existing file whose place it is to take:
    // encrypted if model is, and with model's permissions before a byte is written (where model
    // has a DACL of its own that grants other than what the new file inherits, that DACL,
    // protected or inheriting as model's is), then model's hidden, system, not-content-indexed,
    // archive and OneDrive pin attributes (not read-only). Flushed to the disk, and left open. A
    // file already under the new name is a failure: it is never written through, nor removed.
    virtual std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                                  const std::wstring& model) = 0;
    // Deletes a file; one that is not there is no failure.
    virtual void Remove(const std::wstring& path) = 0;
    // Holds an existing file (HeldFile); fails while another program has it open for writing.
    virtual std::unique_ptr<HeldFile> Hold(const std::wstring& path) = 0;
    // Where User Account Control keeps this user's copy of path for programs without a manifest,
    // which read that copy instead of path while it exists (VirtualStorePathOf); empty where
    // path is in no folder it virtualizes.
    virtual std::wstring VirtualStoreCopyOf(const std::wstring& path) = 0;
};

// The program's own executable.
class RunningProgram {
public:
    virtual ~RunningProgram() = default;
    // Its full path, as the system reports it.
    virtual std::wstring Path() = 0;
    // The bytes of its digest slot resource, as they are; none in a program built without it (a
    // test program). What they mean is the update's business.
    virtual std::optional<Bytes> DigestSlot() = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // The system's time, in seconds since 1970-01-01 UTC.
    virtual std::int64_t UtcSeconds() = 0;
};

class Pause {
public:
    virtual ~Pause() = default;
    // Blocks the calling (UI) thread. It answers what the system sends the program's windows
    // (the end of the session among it), unless messages are held.
    virtual void Sleep(unsigned milliseconds) = 0;
    // While held (the calls nest), a sleep handles no message at all: from the first rename of a
    // run to its last step, so that nothing the system sends, and no end of the session, comes
    // between two renames.
    virtual void HoldMessages(bool held) = 0;
};

// One run at a time per install folder, whoever runs it (another session, another user, an
// elevated copy): an exclusive lock file in the folder, which the system removes when the run
// that holds it ends, even when it is killed.
class RunLock {
public:
    virtual ~RunLock() = default;
    // Takes the lock, or false if another run holds it; throws what else the system refused.
    virtual bool TryAcquire(const std::wstring& lockFile) = 0;
    // Gives up a lock taken (the lock file goes with it); nothing if none is held.
    virtual void Release() noexcept = 0;
};

// A program that has a file open, as Restart Manager names it.
struct FileHolder {
    std::wstring name;  // the application's name as the system gives it, or the service's
    std::uint32_t processId = 0;
};

// The programs that have some files open, found through Restart Manager in one session: named,
// asked to close, and started again.
class HolderSession {
public:
    virtual ~HolderSession() = default;
    // Those that have the files open now; none where the system cannot tell.
    virtual std::vector<FileHolder> Holders() = 0;
    // Asks each to close, as the end of the session would, never forcing one; false where one
    // did not close.
    virtual bool AskToClose() noexcept = 0;
    // Starts again those that closed and told the system how to be started again.
    virtual void RestartClosed() noexcept = 0;
};

class FileHolders {
public:
    virtual ~FileHolders() = default;
    // A session over the files; one that names nobody where Restart Manager is missing or fails.
    virtual std::unique_ptr<HolderSession> Find(const std::vector<std::wstring>& files) = 0;
};

// What the program keeps for deployment tools' detection rules, under its own key in the user's
// registry: the certificate of the pair it last left installed, as a version (DetectionVersion).
// Forgotten before a run changes the pair. A record that cannot be written changes nothing else.
inline constexpr std::wstring_view kRecordKey = L"SOFTWARE\\Kestova\\DesktopUpdater";  // HKCU
inline constexpr std::wstring_view kRecordValue = L"InstalledCertificate";             // REG_SZ
class PairRecord {
public:
    virtual ~PairRecord() = default;
    virtual void Record(const std::wstring& version) noexcept = 0;
    virtual void Forget() noexcept = 0;
};

// A failure, told to the user in a modal message box owned by the window.
class ErrorBox {
public:
    virtual ~ErrorBox() = default;
    virtual void Show(const SystemError& error) = 0;
    // A failure that the user can mend (a program to close), with 重試 and 取消: true for 重試.
    virtual bool AskToRetry(const SystemError& error, bool holdersNamed) = 0;
};

// While a run is under way, the end of the session waits, and Windows says why; as soon as none
// is, it no longer waits (before any box shows).
class ShutdownBlock {
public:
    virtual ~ShutdownBlock() = default;
    virtual void RunStarts() = 0;
    virtual void RunEnds() noexcept = 0;
};

// What a registry read through the shell object returned.
struct NoTextForm {
    std::uint16_t type = 0;  // the automation type that came back, for diagnostics
};
using RegistryValue = std::variant<std::wstring, std::int64_t, std::uint64_t, NoTextForm>;

// The Windows Script Host shell object, alive from its creation until it is released.
class ShellObject {
public:
    virtual ~ShellObject() = default;
    virtual RegistryValue RegRead(const std::wstring& valuePath) = 0;
};

class Shell {
public:
    virtual ~Shell() = default;
    virtual std::unique_ptr<ShellObject> CreateShellObject() = 0;
    // The same value read from the registry itself, as the shell object's RegRead returns it (a
    // string unchanged, an expandable string expanded, a DWORD as a signed number, any other
    // type with no text form), and failing as it does for an absent value: for machines where
    // the object cannot be created.
    virtual RegistryValue ReadValue(const std::wstring& valuePath) = 0;
};

// What the program works with, made once when it starts and passed whole.
struct Services {
    FileSystem& files;
    RunningProgram& program;
    TextDecoder& decoder;
    Shell& shell;
    Pause& pause;
    RunLock& runLock;
    Clock& clock;
    FileHolders& holders;
    PairRecord& record;
};

}  // namespace kdu
