#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Ports.h"
#include "tools/package/Findings.h"
#include "tools/package/Signing.h"
#include "tools/package/Zip.h"

namespace kdu::package {

struct PackageInputs {
    std::filesystem::path certificate;
    std::filesystem::path key;
    std::filesystem::path messages;
    std::filesystem::path executable;  // the shipped 32-bit KestovaDesktopUpdater.exe
    bool allowNotYetValid = false;
    std::optional<SigningInputs> signing;  // none: the exe is packaged as it is
    std::time_t now = 0;
};

// The package's files, in the order they are listed: the exe (with the data files' digests in
// its digest slot, then signed where signing inputs are given), data1.bin, data2.bin (mode 0600),
// data3.bin and SHA256SUMS, the SHA-256 list of the other four in sha256sum's format. Warns when
// the key file given is readable by others than its owner.
std::vector<ZipEntry> PreparePackage(const PackageInputs& inputs, Findings& findings);

// "KestovaDesktopUpdater-<version>-<start date>-<SHA-256>": the folder's name, and the zip's
// without ".zip": the exe's version, the new certificate's start date (notBefore, UTC, as
// YYYYMMDD) and the first 8 hex digits of its SHA-256 (of its DER), so that the packages of two
// renewals never share a name (Intune supersedence, Configuration Manager content, logon scripts).
std::string PackageName(std::string_view certificatePem);

// The rules that tell deployment tools whether this package is installed, pasteable into Intune
// and Configuration Manager as they stand: detected where the program has recorded a certificate
// at least as new as this package's (DetectionVersion), with the requirement that the product is
// recorded for the user.
std::string DetectionRules(const std::string& name, std::string_view certificatePem);

// A failure to write the package, with its whole message: "path: error: reason".
class PackageWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes <out>/<name>/, <out>/<name>.zip and, beside them, <out>/<name>.detection.txt
// (DetectionRules), replacing an earlier package of the same name all or nothing, under a lock on
// <out> (a second build that finds it held is refused). Each is written beside its place first and
// renamed into it. Each file gets its entry's mode (data2.bin 0600), the zip 0600, as it holds the
// key.
void WritePackage(const std::vector<ZipEntry>& files, const std::filesystem::path& out);

Sha256Digest Sha256Of(std::string_view bytes);
std::string Sha256Hex(std::string_view bytes);

}  // namespace kdu::package
