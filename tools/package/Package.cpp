#include "tools/package/Package.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>

#include "resources/version.h"
#include "tools/package/Credentials.h"
#include "tools/package/DigestSlot.h"
#include "tools/package/Messages.h"
#include "tools/package/PeImage.h"
#include "tools/package/Process.h"
#include "update/Detection.h"
#include "update/PairCheck.h"
#include "update/Pem.h"

namespace kdu::package {
namespace fs = std::filesystem;
namespace {

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

// The users' systems run the 32-bit build of the program: an x86-64 or foreign file, a DLL, a
// console program or one cut short (a partial copy or download) is refused.
void CheckExecutable(const std::string& name, std::string_view exe, Findings& findings) {
    const auto image = ReadPeImage(exe);
    if (!image) {
        findings.Error(name, 0, "not a Windows executable");
        return;
    }
    if (image->machine != kMachineI386) {
        findings.Error(name, 0,
                       "not the 32-bit (i686) build of KestovaDesktopUpdater.exe "
                       "(build it with: cmake --build --preset win32)");
    } else if ((image->characteristics & kImageFileDll) != 0) {
        findings.Error(name, 0, "a DLL, not the KestovaDesktopUpdater.exe program");
    } else if (image->subsystem != kSubsystemWindowsGui) {
        findings.Error(name, 0, "not a Windows GUI program (KestovaDesktopUpdater.exe is one)");
    }
    for (const auto& section : image->sections) {
        if (WithinFile(section, exe.size())) continue;
        findings.Error(name, 0,
                       "cut short: a section ends at byte " +
                           std::to_string(std::uint64_t{section.rawAt} + section.rawSize) +
                           ", but the file has " + std::to_string(exe.size()) +
                           " (a partial copy or download?)");
        return;
    }
}

// The key's copies, and the zip that holds one, are for their owner only.
constexpr std::uint16_t kOwnerOnly = 0600;

// A key file others can read is a copy of the key that leaks; the package's copies do not.
void WarnIfOthersCanRead(const fs::path& key, Findings& findings) {
    std::error_code error;
    const auto mode = fs::status(key, error).permissions();
    if (error || (mode & (fs::perms::group_read | fs::perms::others_read)) == fs::perms::none) {
        return;
    }
    char octal[8];
    std::snprintf(octal, sizeof(octal), "%04o", static_cast<unsigned>(mode & fs::perms::all));
    findings.Warning(key.string(), 0,
                     std::string{"the private key is readable by others than its owner (mode "} +
                         octal +
                         "); data2.bin and the zip are 0600, but this file wants "
                         "chmod 600");
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
// A key on a token, or used by a signing command, is not seen: the signature made with it is
// verified against the certificate instead.
void CheckSigningCredentials(const SigningInputs& signing, std::time_t now, Findings& findings) {
    const auto certificate = ReadFile(signing.certificate, findings);
    const auto key =
        signing.KeyUnseen() ? std::optional<std::string>{""} : ReadFile(signing.key, findings);
    if (!certificate || !key) return;
    CheckCredentials({signing.certificate.string(), *certificate, signing.key.string(), *key},
                     {now, false, true, signing.KeyUnseen()}, findings);
    for (const auto& file : {signing.timestampCa, signing.crl}) {
        if (!file.empty()) ReadFile(file, findings);
    }
}

// What the signature as made means for whoever checks it later.
void WarnAboutTheSignature(const SigningInputs& signing, Timestamp timestamp, std::time_t now,
                           Findings& findings) {
    const auto certificate = ReadFile(signing.certificate, findings);
    if (!certificate) return;
    WarnAboutTheTimestamp({signing.certificate.string(), *certificate, {}, {}}, timestamp, now,
                          findings);
    if (signing.crl.empty()) {
        findings.Warning(signing.certificate.string(), 0,
                         "revocation was not checked: no CRL is fetched (a signing host may be "
                         "offline); --crl FILE checks against the issuer's");
    }
}

// An exclusive lock on the output folder while a build writes into it: two builds into one folder
// would otherwise leave one's folder beside the other's zip. The system releases it when the
// process ends, however it ends.
class OutputLock {
public:
    explicit OutputLock(const fs::path& out) {
        const auto path = out / ".kestova-package.lock";
        file_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file_ < 0) ThrowErrno("cannot create", path);
        if (::flock(file_, LOCK_EX | LOCK_NB) == 0) return;
        const bool held = errno == EWOULDBLOCK;
        ::close(file_);
        if (held) {
            throw PackageWriteError(out.string() +
                                    ": error: another kestova-package is writing into this "
                                    "folder; nothing was written: try again when it has finished");
        }
        ThrowErrno("cannot lock", path);
    }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;
    ~OutputLock() { ::close(file_); }

private:
    int file_ = -1;
};

// Where one of the package's two parts goes, is written, and waits while it is replaced.
struct Place {
    fs::path target;
    fs::path partial;
    fs::path aside;
};

// Moves the previous folder and zip aside, the new ones into place, then removes the previous
// ones: all or nothing. On a failure the previous ones are put back, and the error says so.
void PutInPlace(std::span<const Place> places) {
    std::vector<const Place*> movedAside;
    std::vector<const Place*> placed;
    try {
        for (const auto& place : places) {
            if (!fs::exists(fs::symlink_status(place.target))) continue;
            fs::rename(place.target, place.aside);
            movedAside.push_back(&place);
        }
        for (const auto& place : places) {
            fs::rename(place.partial, place.target);
            placed.push_back(&place);
        }
    } catch (const fs::filesystem_error& error) {
        std::error_code ignored;
        for (const auto* place : placed) fs::remove_all(place->target, ignored);
        for (const auto& place : places) fs::remove_all(place.partial, ignored);
        std::string now = "the previous package, if any, is in place again";
        for (const auto* place : movedAside) {
            std::error_code failed;
            fs::rename(place->aside, place->target, failed);
            if (failed) {
                now =
                    "the previous package could not be put back: it is in " + place->aside.string();
            }
        }
        throw PackageWriteError(error.path1().string() + ": error: " + error.code().message() +
                                "; the new package was not written, and " + now);
    }
    for (const auto* place : movedAside) fs::remove_all(place->aside);
}

}  // namespace

std::string PackageName(std::string_view certificatePem) {
    std::string name = std::string{KDU_PRODUCT_NAME} + "-" + KDU_VERSION_TEXT;
    const auto pem = ReadPem(certificatePem);
    const auto leaf = pem.blocks.empty() ? std::nullopt : DecodedBody(pem.blocks.front());
    const auto facts = leaf ? CertificateFromDer({leaf->data(), leaf->size()}) : std::nullopt;
    if (!facts) return name;
    const auto start = CivilTimeOf(facts->notBefore);
    const auto date = std::to_string((start.year * 100 + start.month) * 100 + start.day);
    const std::string der{reinterpret_cast<const char*>(leaf->data()), leaf->size()};
    return name + "-" + date + "-" + Sha256Hex(der).substr(0, 8);
}

std::string DetectionRules(const std::string& name, std::string_view certificatePem) {
    std::string version;
    for (const wchar_t c : DetectionVersionOf(certificatePem)) version += static_cast<char>(c);
    const std::string key = "HKEY_CURRENT_USER\\SOFTWARE\\Kestova\\DesktopUpdater";
    return name +
           ": the rules that tell deployment tools whether it is installed.\n"
           "Detected where the installed certificate and key are this package's pair, or a newer\n"
           "pair: KestovaDesktopUpdater records the start date of the certificate it leaves\n"
           "installed (and forgets it while it changes the pair).\n\n"
           "Intune, Win32 app, Detection rules: Manually configure, Registry\n"
           "  Key path: " +
           key +
           "\n"
           "  Value name: InstalledCertificate\n"
           "  Detection method: Version comparison\n"
           "  Operator: Greater than or equal to\n"
           "  Value: " +
           version +
           "\n"
           "  Associated with a 32-bit app on 64-bit clients: No\n\n"
           "Intune, Requirement rule (the product is recorded for this user): Registry\n"
           "  Key path: HKEY_CURRENT_USER\\SOFTWARE\\Kestova\\Desktop\n"
           "  Value name: InstallPath\n"
           "  Registry key requirement: Value exists\n\n"
           "Configuration Manager, Deployment type, Detection method: Registry\n"
           "  Hive: HKEY_CURRENT_USER\n"
           "  Key: SOFTWARE\\Kestova\\DesktopUpdater\n"
           "  Value: InstalledCertificate\n"
           "  Data Type: Version\n"
           "  This registry setting must satisfy the following rule: Greater than or equal to " +
           version + "\n";
}

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
        WarnAboutTheSignature(*inputs.signing, signedExe.timestamp, inputs.now, findings);
    }
    WarnIfOthersCanRead(inputs.key, findings);
    std::vector<ZipEntry> files{{KDU_FILE_NAME, executable},
                                {"data1.bin", *certificate},
                                {"data2.bin", *key, kOwnerOnly},
                                {"data3.bin", big5}};
    std::string sums;
    for (const auto& file : files) sums += Sha256Hex(file.content) + "  " + file.name + "\n";
    files.push_back({"SHA256SUMS", sums});
    return files;
}

void WritePackage(const std::vector<ZipEntry>& files, const fs::path& out) {
    // Ctrl-C waits until the package is whole, the new one or the previous one.
    const HeldSignals held;
    fs::create_directories(out);
    const OutputLock lock{out};
    const auto& certificate =
        std::ranges::find(files, std::string{"data1.bin"}, &ZipEntry::name)->content;
    const auto name = PackageName(certificate);
    // Each new file is written beside its place first; the previous one waits aside until all
    // new ones are in place.
    const auto at = [&](const std::string& target) {
        return Place{out / target, out / (target + ".partial"), out / (target + ".old")};
    };
    const Place places[] = {at(name), at(name + ".zip"), at(name + ".detection.txt")};
    for (const auto& place : places) {
        // A build cut short after moving the previous package aside: it goes back first.
        if (!fs::exists(fs::symlink_status(place.target)) &&
            fs::exists(fs::symlink_status(place.aside))) {
            fs::rename(place.aside, place.target);
        }
        // Leftovers, or links planted there: removed, not followed.
        fs::remove_all(place.aside);
        fs::remove_all(place.partial);
    }

    const auto& folderBeingWritten = places[0].partial;
    fs::create_directory(folderBeingWritten);
    for (const auto& file : files) {
        WriteBytes(folderBeingWritten / file.name, file.content, fs::perms{file.mode});
    }
    // The zip holds the folder, so that it unpacks into one.
    auto entries = files;
    for (auto& entry : entries) entry.name = name + "/" + entry.name;
    WriteBytes(places[1].partial, ZipArchive(entries), fs::perms{kOwnerOnly});
    WriteBytes(places[2].partial, DetectionRules(name, certificate), fs::perms{0644});
    PutInPlace(places);
}

}  // namespace kdu::package
