#pragma once

// The operations the program needs from Windows, as small interfaces. The window, start-up
// and update logic call only these; platform/win32 implements them, the unit tests fake them.
// Every operation reports failure by throwing (kdu::SystemError for what the system refused).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/SystemError.h"

namespace kdu {

// Raw file content.
using Bytes = std::string;
using Sha256Digest = std::array<std::uint8_t, 32>;

class ListBox {
public:
    virtual ~ListBox() = default;
    virtual void Append(std::wstring_view text) = 0;
    virtual int Count() const = 0;
    virtual std::wstring Text(int index) const = 0;
    virtual void Replace(int index, std::wstring_view text) = 0;
    // Paints the list now, so that a change shows while the UI thread is busy.
    virtual void Repaint() = 0;
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

// What the replacement must know of an installed file before it puts another in its place.
struct FileFacts {
    bool reparsePoint = false;  // a symbolic link (or junction): the path is not the file itself
    std::uint32_t links = 1;    // hard links: the names the same file has
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The full path of the running executable, as the system reports it.
    virtual std::wstring ExecutablePath() = 0;
    // A whole (small) file.
    virtual Bytes ReadAll(const std::wstring& path) = 0;

    // The size of a file that can be opened for reading.
    virtual std::uint64_t SizeOf(const std::wstring& path) = 0;
    // Whether two files hold exactly the same bytes.
    virtual bool SameContent(const std::wstring& first, const std::wstring& second) = 0;
    virtual bool Exists(const std::wstring& path) = 0;
    // The SHA-256 digest of a file's bytes.
    virtual Sha256Digest Sha256Of(const std::wstring& path) = 0;
    // Whether a name read from a UTF-8 list is name, as Windows compares the names of files
    // in one folder (ordinal, ignoring case).
    virtual bool SameFileName(std::string_view utf8Name, std::wstring_view name) = 0;
    // Fails unless the existing file can be replaced: not read-only, not held open by others.
    virtual void CheckReplaceable(const std::wstring& path) = 0;
    // Whether the file has the read-only attribute: a refusal that waiting does not change.
    virtual bool IsReadOnly(const std::wstring& path) = 0;
    // The facts of an existing file itself, not of one a link there points to.
    virtual FileFacts Inspect(const std::wstring& path) = 0;
    // Copies source to a new file made like model, an existing file whose place it is to take:
    // encrypted if model is, and with model's permissions (its DACL, protected or inheriting as
    // model's is) before a byte is written, then model's hidden, system, not-content-indexed and
    // archive attributes (not read-only). Flushed to the disk. A file already under the new name
    // is a failure: it is never written through.
    virtual void CopyToNewFile(const std::wstring& source, const std::wstring& destination,
                               const std::wstring& model) = 0;
    // Renames a file over another in the same folder, in one step; a read-only target is
    // refused.
    virtual void MoveReplacing(const std::wstring& from, const std::wstring& to) = 0;
    // Writes what the system still holds of a file to the disk.
    virtual void Flush(const std::wstring& path) = 0;
    // Deletes a file; one that is not there is no failure.
    virtual void Remove(const std::wstring& path) = 0;
};

class Pause {
public:
    virtual ~Pause() = default;
    // Blocks the calling (UI) thread.
    virtual void Sleep(unsigned milliseconds) = 0;
};

// Keeps two copies of the program in one user's session from replacing at the same time: the
// second waits for the first, then finds the pair done.
class RunLock {
public:
    virtual ~RunLock() = default;
    // Waits until no other copy holds the lock, then holds it until Release.
    virtual void Acquire() = 0;
    virtual void Release() noexcept = 0;
};

// Holds a RunLock for as long as it lives.
class HeldRunLock {
public:
    explicit HeldRunLock(RunLock& lock) : lock_(lock) { lock_.Acquire(); }
    HeldRunLock(const HeldRunLock&) = delete;
    HeldRunLock& operator=(const HeldRunLock&) = delete;
    ~HeldRunLock() { lock_.Release(); }

private:
    RunLock& lock_;
};

// A failure, told to the user in a modal message box owned by the window.
class ErrorBox {
public:
    virtual ~ErrorBox() = default;
    virtual void Show(const SystemError& error) = 0;
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
};

}  // namespace kdu
