#pragma once

// The Windows error numbers this program gives, as numbers the portable code can name: the exit
// codes of /quiet and /restore are these, and the Win32 layer describes them (FormatMessageW).

#include <cstdint>

namespace kdu {

inline constexpr std::uint32_t kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kPathNotFound = 3;       // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t kAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kInvalidData = 13;       // ERROR_INVALID_DATA
inline constexpr std::uint32_t kOutOfMemory = 14;       // ERROR_OUTOFMEMORY
inline constexpr std::uint32_t kGeneralFailure = 31;    // ERROR_GEN_FAILURE
inline constexpr std::uint32_t kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
inline constexpr std::uint32_t kLockViolation = 33;     // ERROR_LOCK_VIOLATION
inline constexpr std::uint32_t kNotSupported = 50;      // ERROR_NOT_SUPPORTED
inline constexpr std::uint32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kAlreadyExists = 183;    // ERROR_ALREADY_EXISTS: a VirtualStore copy
inline constexpr std::uint32_t kFileTooLarge = 223;     // ERROR_FILE_TOO_LARGE
// ERROR_DATA_CHECKSUM_ERROR, which older SDK headers lack: for deployment tools, an exit code of
// its own for a file that is not the package's.
inline constexpr std::uint32_t kDataChecksumError = 323;
inline constexpr std::uint32_t kShutdownInProgress = 1115;  // ERROR_SHUTDOWN_IN_PROGRESS
inline constexpr std::uint32_t kNotFound = 1168;            // ERROR_NOT_FOUND: no backup
// ERROR_UNKNOWN_PRODUCT: no install folder recorded for this user, the "not applicable" a
// deployment tool can tell from a failure.
inline constexpr std::uint32_t kUnknownProduct = 1605;
// ERROR_INSTALL_SOURCE_ABSENT: data1.bin or data2.bin is not beside the program.
inline constexpr std::uint32_t kInstallSourceAbsent = 1612;
inline constexpr std::uint32_t kCancelled = 1223;      // ERROR_CANCELLED: the user answered 否
inline constexpr std::uint32_t kInternalError = 1359;  // ERROR_INTERNAL_ERROR
// ERROR_INSTALL_ALREADY_RUNNING: the product has its pair open, or another run holds the install
// folder; the code Intune and Configuration Manager try again later by default.
inline constexpr std::uint32_t kInstallAlreadyRunning = 1618;
// ERROR_PRODUCT_VERSION: Windows Installer's "another version of this product is installed".
inline constexpr std::uint32_t kProductVersion = 1638;
// CERT_E_EXPIRED, an HRESULT, as certificate tools report an expired certificate.
inline constexpr std::uint32_t kCertificateExpired = 0x800B0101;
// STATUS_STACK_BUFFER_OVERRUN, what Windows' fail-fast gives a program that ends abnormally: the
// exit code of a crash (abort, an uncaught exception), never one a run gives.
inline constexpr std::uint32_t kAbnormalEnd = 0xC0000409;

}  // namespace kdu
