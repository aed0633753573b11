#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kdu {

// What went wrong: the system's own failure, or one this program found itself. The portable
// code names the kind; the Win32 layer gives it the number and description the user is shown.
enum class Failure : std::uint8_t {
    System,                 // the system refused: Code() holds its error number
    OutOfMemory,            // std::bad_alloc
    Internal,               // any other exception: a fault in this program; its text is kept
    SymbolicLink,           // an installed file is a symbolic link
    HardLink,               // an installed file has other hard links
    NotACertificate,        // data1.bin holds no PEM certificate
    NotAPrivateKey,         // data2.bin holds no PEM private key
    EncryptedPrivateKey,    // data2.bin holds a key the product cannot use without a password
    NotInPackage,           // a file's SHA-256 is not its line in SHA256SUMS, or it has none
    ChecksumsMalformed,     // SHA256SUMS is not a list sha256sum could read
    TooLarge,               // a file to read whole is larger than kLargestFileRead
    AnotherRun,             // another run holds the install folder's lock, and kept it
    HeldOpen,               // another program has a file of the pair open; the description
                            // names the programs where the system could
    ChangedDuringRun,       // another program changed a file of the pair while the run worked
    InvalidArgument,        // a command line argument this program does not know
    KeyMismatch,            // data2.bin's key does not belong to data1.bin's certificate
    CertificateExpired,     // data1.bin's leaf certificate expired; the description is the date
    NewerInstalled,         // the installed certificate is newer than data1.bin's
    PackageFileMissing,     // data1.bin or data2.bin is not beside the program
    NoBackup,               // a backup to put back is not there
    BackupNotAPair,         // a backup is no certificate or key, or the two are not a pair
    BackupExpired,          // the backup certificate expired; the description is the date
    ChangedAfterPackaging,  // a data file is not the one whose digest the program carries
    PermissionsNotKept,     // a new file cannot be given the permissions of the one it replaces
    VirtualStoreCopy,       // User Account Control keeps a copy of an installed file, which a
                            // product without a manifest reads instead
};

// A failure: its kind, its error number (a Win32 error code or an HRESULT, once known), its
// description, and the file it concerns, if any; and what this program has to add for the user
// (what state the failure left, what to do about it).
class SystemError : public std::runtime_error {
public:
    SystemError(std::uint32_t code, std::wstring description, std::wstring path = {},
                std::wstring remark = {})
        : std::runtime_error("system error " + std::to_string(code)),
          code_(code),
          description_(std::move(description)),
          path_(std::move(path)),
          remark_(std::move(remark)) {}

    // One this program found; Code() is 0 until the Win32 layer describes it.
    explicit SystemError(Failure kind, std::wstring path = {}, std::wstring description = {})
        : std::runtime_error("failure " + std::to_string(static_cast<int>(kind))),
          kind_(kind),
          description_(std::move(description)),
          path_(std::move(path)) {}

    Failure Kind() const noexcept { return kind_; }
    std::uint32_t Code() const noexcept { return code_; }
    const std::wstring& Description() const noexcept { return description_; }
    const std::wstring& Path() const noexcept { return path_; }
    const std::wstring& Remark() const noexcept { return remark_; }

    SystemError Described(std::uint32_t code, std::wstring description) const {
        SystemError described{code, std::move(description), path_, remark_};
        described.kind_ = kind_;
        return described;
    }
    SystemError Remarked(std::wstring remark) const {
        SystemError remarked = *this;
        remarked.remark_ = std::move(remark);
        return remarked;
    }

private:
    Failure kind_ = Failure::System;
    std::uint32_t code_ = 0;
    std::wstring description_;
    std::wstring path_;
    std::wstring remark_;
};

}  // namespace kdu
