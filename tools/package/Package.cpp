#include "tools/package/Package.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "resources/version.h"
#include "tools/package/Credentials.h"
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

void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out{path, std::ios::binary | std::ios::trunc};
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
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

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
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

    std::string executable = *exe;
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

void WritePackage(const std::vector<ZipEntry>& files, const fs::path& out) {
    fs::create_directories(out);
    const auto folder = out / PackageName();
    const auto zip = out / (PackageName() + ".zip");
    const auto folderBeingWritten = out / (PackageName() + ".partial");
    const auto zipBeingWritten = out / (PackageName() + ".zip.partial");

    fs::remove_all(folderBeingWritten);
    fs::create_directory(folderBeingWritten);
    for (const auto& file : files) WriteBytes(folderBeingWritten / file.name, file.content);
    // The zip holds the folder, so that it unpacks into one.
    auto entries = files;
    for (auto& entry : entries) entry.name = PackageName() + "/" + entry.name;
    WriteBytes(zipBeingWritten, ZipArchive(entries));

    fs::remove_all(folder);
    fs::rename(folderBeingWritten, folder);
    fs::rename(zipBeingWritten, zip);
}

}  // namespace kdu::package
