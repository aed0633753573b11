#pragma once

// The operations the program needs from Windows, as small interfaces. The window, start-up
// and update logic call only these; platform/win32 implements them, the unit tests fake them.
// Every operation reports failure by throwing (kdu::SystemError for what the system refused).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

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
};

class PushButton {
public:
    virtual ~PushButton() = default;
    virtual void Disable() = 0;
};

enum class Encoding { Ansi, Utf8 };

class TextDecoder {
public:
    virtual ~TextDecoder() = default;
    // Converts bytes of the given encoding to text; undecodable bytes become replacement
    // characters, never a failure.
    virtual std::wstring Decode(std::string_view bytes, Encoding encoding) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The full path of the running executable, as the system reports it.
    virtual std::wstring ExecutablePath() = 0;
    virtual Bytes ReadAll(const std::wstring& path) = 0;
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
