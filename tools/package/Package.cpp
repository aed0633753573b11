#include "tools/package/Package.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "resources/version.h"
#include "tools/package/Credentials.h"
#include "tools/package/DigestSlot.h"
#include "tools/package/Messages.h"

namespace kdu::package {
namespace fs = std::filesystem;
namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;

std::optional<std::string> ReadFile(const fs::path& path, Findings& findings) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        findings.Error(path.string(), 0, "is a folder, not a file");
        return std::nullopt;
    }
    std::ifstream in{path, std::ios::binary};
    if (!in) {
        findings.Error(path.string(), 0, "cannot be read (missing, or no permission)");
        return std::nullopt;
    }
    return std::string{std::istreambuf_iterator<char>{in}, {}};
}

std::uint32_t Little(std::string_view bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

// The users' systems run the 32-bit build: an x86-64 or foreign file is refused.
void CheckExecutable(const std::string& name, std::string_view exe, Findings& findings) {
    constexpr std::size_t kPeOffsetAt = 0x3C;
    const std::size_t pe = exe.size() >= kPeOffsetAt + 4 ? Little(exe, kPeOffsetAt, 4) : 0;
    // The offset comes from the file: checked against its size before anything is read there.
    if (!exe.starts_with("MZ") || pe == 0 || exe.size() < pe + 6 ||
        exe.substr(pe, 4) != std::string_view{"PE\0\0", 4}) {
        findings.Error(name, 0, "not a Windows executable");
    } else if (Little(exe, pe + 4, 2) != kMachineI386) {
        findings.Error(name, 0,
                       "not the 32-bit (i686) build of KestovaDesktopUpdater.exe "
                       "(build it with: cmake --build --preset win32)");
    }
}

[[noreturn]] void ThrowErrno(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, {errno, std::generic_category()});
}

// A new file, never one already there nor one a symbolic link planted at its name points to; with
// mode as its permissions from the start (the umask may narrow them, never widen).
void WriteBytes(const fs::path& path, std::string_view bytes, fs::perms mode) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            static_cast<mode_t>(mode));
    if (file < 0) ThrowErrno("cannot create", path);
    while (!bytes.empty()) {
        const auto written = ::write(file, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(file);
            errno = error;
            ThrowErrno("cannot write", path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::close(file) != 0) ThrowErrno("cannot write", path);
}

// The code-signing certificate and key, by the rules of the product's pair and for code signing.
void CheckSigningCredentials(const SigningInputs& signing, std::time_t now, Findings& findings) {
    const auto certificate = ReadFile(signing.certificate, findings);
    const auto key = ReadFile(signing.key, findings);
    if (!certificate || !key) return;
    CheckCredentials({signing.certificate.string(), *certificate, signing.key.string(), *key},
                     {now, false, true}, findings);
}

}  // namespace

std::string PackageName() { return std::string{KDU_PRODUCT_NAME} + "-" + KDU_VERSION_TEXT; }

Sha256Digest Sha256Of(std::string_view bytes) {
    Sha256Digest digest{};
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr) !=
        1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return digest;
}

std::string Sha256Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const auto byte : Sha256Of(bytes)) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

std::vector<ZipEntry> PreparePackage(const PackageInputs& inputs, Findings& findings) {
    const auto certificate = ReadFile(inputs.certificate, findings);
    const auto key = ReadFile(inputs.key, findings);
    const auto messages = ReadFile(inputs.messages, findings);
    const auto exe = ReadFile(inputs.executable, findings);
    if (exe) CheckExecutable(inputs.executable.string(), *exe, findings);
    if (certificate && key) {
        CheckCredentials({inputs.certificate.string(), *certificate, inputs.key.string(), *key},
                         {inputs.now, inputs.allowNotYetValid}, findings);
    }
    std::string big5;
    if (messages) big5 = ConvertMessages(*messages, inputs.messages.string(), findings);
    if (inputs.signing) CheckSigningCredentials(*inputs.signing, inputs.now, findings);
    if (findings.Refused()) return {};

    // The data files' digests go into the exe before it is signed, so that the signature covers
    // them.
    std::string executable = *exe;
    FillDigestSlot(executable, {Sha256Of(*certificate), Sha256Of(*key), Sha256Of(big5)},
                   inputs.executable.string(), findings);
    if (findings.Refused()) return {};
    if (inputs.signing) {
        auto signedExe = SignExecutable(executable, *inputs.signing);
        if (!signedExe.failure.empty()) {
            findings.Error(inputs.executable.string(), 0, "cannot be signed: " + signedExe.failure);
            return {};
        }
        executable = std::move(signedExe.executable);
    }
    std::vector<ZipEntry> files{{KDU_FILE_NAME, executable},
                                {"data1.bin", *certificate},
                                {"data2.bin", *key},
                                {"data3.bin", big5}};
    std::string sums;
    for (const auto& file : files) sums += Sha256Hex(file.content) + "  " + file.name + "\n";
    files.push_back({"SHA256SUMS", sums});
    return files;
}

void WritePackage(const std::vector<ZipEntry>& files, const fs::path& out, fs::perms keyMode) {
    constexpr auto kReadable = fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::group_read | fs::perms::others_read;
    // The key, and the zip that holds it, no more readable than the key file given.
    const auto privateMode = keyMode & kReadable;
    fs::create_directories(out);
    const auto folder = out / PackageName();
    const auto zip = out / (PackageName() + ".zip");
    const auto folderBeingWritten = out / (PackageName() + ".partial");
    const auto zipBeingWritten = out / (PackageName() + ".zip.partial");

    // A leftover of a build cut short, or a link planted there: the link is removed, not followed.
    fs::remove_all(folderBeingWritten);
    fs::remove(zipBeingWritten);
    fs::create_directory(folderBeingWritten);
    for (const auto& file : files) {
        WriteBytes(folderBeingWritten / file.name, file.content,
                   file.name == "data2.bin" ? privateMode : kReadable);
    }
    // The zip holds the folder, so that it unpacks into one.
    auto entries = files;
    for (auto& entry : entries) entry.name = PackageName() + "/" + entry.name;
    WriteBytes(zipBeingWritten, ZipArchive(entries), privateMode);

    fs::remove_all(folder);
    fs::rename(folderBeingWritten, folder);
    fs::rename(zipBeingWritten, zip);
}

}  // namespace kdu::package
