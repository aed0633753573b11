#pragma once

// Small in-memory stand-ins for the window's controls, the files, the text decoder and the
// shell object.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Ports.h"
#include "platform/SystemError.h"

namespace kdu::testing {

inline constexpr std::uint32_t kFileNotFound = 2;

class FakeListBox : public ListBox {
public:
    void Append(std::wstring_view text) override {
        if (failingTexts.contains(std::wstring{text})) throw SystemError{8, L"no memory"};
        items.emplace_back(text);
    }
    int Count() const override { return static_cast<int>(items.size()); }
    std::wstring Text(int index) const override {
        if (index < 0 || index >= Count()) throw SystemError{1413, L"invalid index"};
        return items[static_cast<std::size_t>(index)];
    }
    void Replace(int index, std::wstring_view text) override {
        if (index < 0 || index >= Count()) throw SystemError{1413, L"invalid index"};
        items[static_cast<std::size_t>(index)] = text;
    }
    void Repaint() override { ++repaints; }

    std::vector<std::wstring> items;
    std::set<std::wstring> failingTexts;  // Append of these fails
    int repaints = 0;
};

class FakeButton : public PushButton {
public:
    void Disable() override { enabled = false; }
    bool enabled = true;
};

class FakeFileSystem : public FileSystem {
public:
    std::wstring ExecutablePath() override { return executablePath; }
    Bytes ReadAll(const std::wstring& path) override {
        const auto file = files.find(path);
        if (file == files.end()) throw SystemError{kFileNotFound, L"not found", path};
        return file->second;
    }

    std::wstring executablePath = L"C:\\Users\\user\\Downloads\\KestovaDesktopUpdater.exe";
    std::map<std::wstring, Bytes> files;
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

    std::optional<RegistryValue> value;  // nothing: the value is absent
    bool unavailable = false;
    int alive = 0;
    std::vector<std::wstring> readPaths;
};

}  // namespace kdu::testing
