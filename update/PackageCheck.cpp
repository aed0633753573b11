#include "update/PackageCheck.h"

#include <algorithm>

#include "platform/ErrorNumbers.h"
#include "update/PackageDigests.h"
#include "update/PairCheck.h"
#include "update/Pem.h"

namespace kdu {
namespace {

// A block as the checks see it.
struct CheckedBlock {
    std::string_view label;
    bool encrypted = false;  // a "Proc-Type: 4,ENCRYPTED" header
};

// Follows one block's body line by line: headers, base64, padding only at the very end.
class BlockBody {
public:
    // False if the line cannot stand in a block's body.
    bool Take(std::string_view line, CheckedBlock& block) {
        if (characters_ == 0 && !padded_ && line.find(':') != std::string_view::npos) {
            if (line.starts_with("Proc-Type:") && line.find("ENCRYPTED") != line.npos) {
                block.encrypted = true;
            }
            return true;  // an RFC 1421 header, as older OpenSSL writes for encrypted keys
        }
        if (line.empty()) return characters_ == 0;  // the blank line after the headers
        for (const char c : line) {
            if (c == '=') {
                if (++padding_ > 2) return false;
                padded_ = true;
            } else if (Base64Value(c) < 0 || padded_) {
                return false;
            }
            ++characters_;
        }
        return true;
    }
    bool Complete() const { return characters_ > 0 && characters_ % 4 == 0; }

private:
    std::size_t characters_ = 0;
    int padding_ = 0;
    bool padded_ = false;
};

// The blocks of a PEM text; nothing if one is broken (no END, a foreign line, bad base64).
std::optional<std::vector<CheckedBlock>> PemBlocks(std::string_view text) {
    const auto pem = ReadPem(text);
    if (pem.strayEnd) return std::nullopt;
    std::vector<CheckedBlock> blocks;
    for (const auto& block : pem.blocks) {
        CheckedBlock checked{block.label};
        BlockBody body;
        for (const auto line : block.lines) {
            if (!body.Take(line, checked)) return std::nullopt;
        }
        if (!block.ended || !body.Complete()) return std::nullopt;
        blocks.push_back(checked);
    }
    return blocks;
}

bool IsPrivateKeyLabel(std::string_view label) {
    return label == "PRIVATE KEY" || label == "RSA PRIVATE KEY" || label == "EC PRIVATE KEY";
}

std::optional<Sha256Digest> DigestFromHex(std::string_view hex) {
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Sha256Digest digest{};
    if (hex.size() != digest.size() * 2) return std::nullopt;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = value(hex[2 * i]);
        const int low = value(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

// sha256sum writes a name holding a backslash or a line break with a leading backslash on the
// line and these escapes.
std::optional<std::string> Unescaped(std::string_view name) {
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            plain += name[i];
            continue;
        }
        if (++i == name.size()) return std::nullopt;
        switch (name[i]) {
            case '\\':
                plain += '\\';
                break;
            case 'n':
                plain += '\n';
                break;
            case 'r':
                plain += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return plain;
}

std::optional<ChecksumLine> ParseChecksumLine(std::string_view line) {
    constexpr std::size_t kHexDigits = 64;
    const bool escaped = line.starts_with('\\');
    if (escaped) line.remove_prefix(1);
    // The digest, a space, then a space (text mode) or an asterisk (binary mode), then the name.
    if (line.size() <= kHexDigits + 2 || line[kHexDigits] != ' ' ||
        (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*')) {
        return std::nullopt;
    }
    const auto digest = DigestFromHex(line.substr(0, kHexDigits));
    const auto name = line.substr(kHexDigits + 2);
    const auto plain = escaped ? Unescaped(name) : std::optional<std::string>{name};
    if (!digest || !plain) return std::nullopt;
    return ChecksumLine{*digest, *plain};
}

// A whole file; nothing if it is too large to be what the package holds. One that is not there
// is a package not whole: told as that, for the administrator to deploy it again.
std::optional<Bytes> ReadWithinLimit(FileSystem& files, const std::wstring& path) {
    try {
        return files.ReadAll(path);
    } catch (const SystemError& error) {
        if (error.Kind() == Failure::TooLarge) return std::nullopt;
        if (error.Kind() == Failure::System &&
            (error.Code() == kFileNotFound || error.Code() == kPathNotFound)) {
            throw SystemError{Failure::PackageFileMissing, path};
        }
        throw;
    }
}

std::vector<ChecksumLine> ReadChecksums(FileSystem& files, const std::wstring& path) {
    const auto text = ReadWithinLimit(files, path);
    std::optional<std::vector<ChecksumLine>> lines;
    if (text && text->size() <= kLargestChecksumsFile) lines = ParseChecksums(*text);
    if (!lines) throw SystemError{Failure::ChecksumsMalformed, path};
    return *lines;
}

// Every line that names the file must give its digest, and there must be one.
void CheckListed(FileSystem& files, const std::vector<ChecksumLine>& lines,
                 const std::optional<Bytes>& content, const std::wstring& path,
                 std::wstring_view name) {
    if (!content) throw SystemError{Failure::NotInPackage, path};
    const auto digest = Sha256Of(*content);
    bool listed = false;
    for (const auto& line : lines) {
        if (!files.SameFileName(line.name, name)) continue;
        if (line.digest != digest) throw SystemError{Failure::NotInPackage, path};
        listed = true;
    }
    if (!listed) throw SystemError{Failure::NotInPackage, path};
}

// Refuses content that is not what it should be.
void Checked(std::string_view content, const std::wstring& path, Failure notOne,
             std::optional<Failure> (*problemOf)(std::string_view)) {
    if (content.empty()) throw SystemError{notOne, path};
    if (const auto problem = problemOf(content)) throw SystemError{*problem, path};
}

}  // namespace

std::optional<Failure> CertificateProblem(std::string_view pem) {
    const auto blocks = PemBlocks(pem);
    if (!blocks || blocks->empty()) return Failure::NotACertificate;
    const bool allCertificates = std::all_of(
        blocks->begin(), blocks->end(), [](const auto& b) { return b.label == "CERTIFICATE"; });
    if (!allCertificates) return Failure::NotACertificate;
    return std::nullopt;
}

std::optional<Failure> PrivateKeyProblem(std::string_view pem) {
    const auto blocks = PemBlocks(pem);
    if (!blocks) return Failure::NotAPrivateKey;
    int keys = 0;
    for (const auto& block : *blocks) {
        if (block.label == "ENCRYPTED PRIVATE KEY" || block.encrypted) {
            return Failure::EncryptedPrivateKey;
        }
        if (IsPrivateKeyLabel(block.label)) {
            ++keys;
        } else if (block.label != "EC PARAMETERS") {
            return Failure::NotAPrivateKey;
        }
    }
    if (keys != 1) return Failure::NotAPrivateKey;
    return std::nullopt;
}

std::optional<std::vector<ChecksumLine>> ParseChecksums(std::string_view text) {
    std::vector<ChecksumLine> lines;
    bool malformed = false;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty()) return true;
        auto parsed = ParseChecksumLine(line);
        if (parsed) lines.push_back(std::move(*parsed));
        malformed = !parsed;
        return !malformed;
    });
    if (malformed || lines.empty()) return std::nullopt;
    return lines;
}

CheckedPair CheckPackage(FileSystem& files, RunningProgram& program, const CredentialPaths& paths,
                         std::int64_t now) {
    const auto& certificatePath = paths.swaps[kCertificateSwap].incoming;
    const auto& privateKeyPath = paths.swaps[kPrivateKeySwap].incoming;
    auto certificate = ReadWithinLimit(files, certificatePath);
    auto privateKey = ReadWithinLimit(files, privateKeyPath);
    // The digests first: a file that is not the package's own is told as that, whatever it holds.
    // Those the program carries are covered by its signature, and SHA256SUMS is not: with them,
    // SHA256SUMS is neither needed nor trusted.
    if (const auto sealed = ProgramDigests(program)) {
        CheckSealed(*sealed, kSealedCertificate, certificate, certificatePath);
        CheckSealed(*sealed, kSealedPrivateKey, privateKey, privateKeyPath);
    } else if (files.Exists(paths.checksums)) {
        const auto lines = ReadChecksums(files, paths.checksums);
        CheckListed(files, lines, certificate, certificatePath, kNewCertificateFile);
        CheckListed(files, lines, privateKey, privateKeyPath, kNewPrivateKeyFile);
    }
    if (!certificate) throw SystemError{Failure::NotACertificate, certificatePath};
    if (!privateKey) throw SystemError{Failure::NotAPrivateKey, privateKeyPath};
    CheckedPair incoming{std::move(*certificate), std::move(*privateKey)};
    CheckPairContent(incoming, certificatePath, privateKeyPath, now);
    return incoming;
}

void CheckPairContent(CheckedPair& incoming, const std::wstring& certificatePath,
                      const std::wstring& privateKeyPath, std::int64_t now) {
    Checked(incoming.certificate, certificatePath, Failure::NotACertificate, CertificateProblem);
    Checked(incoming.privateKey, privateKeyPath, Failure::NotAPrivateKey, PrivateKeyProblem);

    // A pair the product can use: the key belongs to the leaf, which has not expired.
    const auto leaf = ReadLeafCertificate(incoming.certificate);
    if (!leaf) throw SystemError{Failure::NotACertificate, certificatePath};
    const auto key = ReadPrivateKey(incoming.privateKey);
    if (!key) throw SystemError{Failure::NotAPrivateKey, privateKeyPath};
    const auto match = CompareKeys(leaf->key, *key);
    if (match == KeyMatch::Different) {
        throw SystemError{Failure::KeyMismatch, privateKeyPath, certificatePath};
    }
    if (leaf->notAfter < now) {
        throw SystemError{Failure::CertificateExpired, certificatePath, DateText(leaf->notAfter)};
    }
    incoming.notBefore = leaf->notBefore;
    incoming.pairUnverified = match == KeyMatch::Unknown;
}

void CheckNotOlder(const CheckedPair& incoming, std::string_view installedCertificate,
                   const std::wstring& installedPath) {
    const auto installed = ReadLeafCertificate(installedCertificate);
    if (!installed || installed->notBefore <= incoming.notBefore) return;
    throw SystemError{Failure::NewerInstalled, installedPath,
                      DateText(installed->notBefore) + L" / " + DateText(incoming.notBefore)};
}

}  // namespace kdu
