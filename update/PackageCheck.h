#pragma once

// What the update checks of the package beside the program before it changes anything: that
// data1.bin and data2.bin look like a certificate and a private key, and, where the package
// lists digests in SHA256SUMS, that they are the package's own files. Browsers keep an old
// download beside a new one, files get swapped, and a proxy can save an error page under a
// file's name; none of that may end up as the product's certificate or key.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ports.h"
#include "update/CredentialReplacement.h"

namespace kdu {

inline constexpr std::wstring_view kChecksumsFile = L"SHA256SUMS";
inline constexpr std::uint64_t kLargestChecksumsFile = std::uint64_t{64} << 10;

// Why a PEM text is not what it should be; nothing if it is. Only the structure is checked:
// BEGIN lines, base64 lines, the matching END lines. Text outside the blocks is allowed, as
// OpenSSL allows it.
// - A certificate file holds one or more CERTIFICATE blocks (a chain), and no other block.
// - A private key file holds one PRIVATE KEY, RSA PRIVATE KEY or EC PRIVATE KEY block, with EC
//   PARAMETERS beside it at most. An ENCRYPTED PRIVATE KEY, or a key with a Proc-Type
//   ENCRYPTED header, is refused: the product has no password to open it.
std::optional<Failure> CertificateProblem(std::string_view pem);
std::optional<Failure> PrivateKeyProblem(std::string_view pem);

// One line of a SHA256SUMS file.
struct ChecksumLine {
    Sha256Digest digest{};
    std::string name;  // as written (UTF-8), sha256sum's escapes undone
};

// The lines of a SHA256SUMS file as sha256sum writes and reads it: "<64 hex digits>  name" or
// "<64 hex digits> *name", LF or CR LF line ends, empty lines skipped. Nothing if any line is
// not of that form, or there is no line at all.
std::optional<std::vector<ChecksumLine>> ParseChecksums(std::string_view text);

// A certificate and its private key, each read once and checked as a pair: the package's incoming
// files, or the backups a restore puts back. Read once, so that a sync client or a second
// download changing them meanwhile cannot put other bytes in place than those checked.
struct CheckedPair {
    Bytes certificate;
    Bytes privateKey;
    std::int64_t notBefore = 0;   // the leaf certificate's, for the downgrade check
    bool pairUnverified = false;  // the key carries no public part to compare with the leaf's
};

// Reads the incoming files and refuses, before any change, ones that are not a certificate and
// a private key (a file larger than kLargestFileRead is neither), or that differ from the digests
// the program carries, or, where it carries none, that SHA256SUMS (if the package has one) does
// not list with their digest; then, a key that does not belong to the
// leaf certificate, and a leaf that has expired by now (one not yet valid is allowed: packages
// are made ahead of a roll-out). Without SHA256SUMS the rest is checked all the same, so that
// packages made by hand keep working.
CheckedPair CheckPackage(FileSystem& files, RunningProgram& program, const CredentialPaths& paths,
                         std::int64_t now);

// The checks of the pair's content alone, as CheckPackage runs them after SHA256SUMS: the PEM
// structure, then the key against the leaf and the leaf's expiry. Fills in the facts of
// incoming; throws the failure, naming the file concerned.
void CheckPairContent(CheckedPair& incoming, const std::wstring& certificatePath,
                      const std::wstring& privateKeyPath, std::int64_t now);

// Refuses a leaf older than the installed certificate (its notBefore is earlier): running an old
// package again must not put an old pair back. An installed file that is not a certificate is
// no reason to refuse.
void CheckNotOlder(const CheckedPair& incoming, std::string_view installedCertificate,
                   const std::wstring& installedPath);

}  // namespace kdu
