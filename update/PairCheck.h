#pragma once

// Whether the incoming certificate and key are a pair the product can use: the key belongs to
// the leaf certificate, and the leaf has not expired; and whether it is older than the installed
// one. Read from the PEM files with the portable DER reader, which, unlike some systems'
// CryptoAPI, reads PKCS#8 and EC keys too.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/Der.h"

namespace kdu {

// A public key, as far as comparing it needs.
struct PublicKey {
    enum class Kind { Rsa, Ec, Other };
    Kind kind = Kind::Other;
    std::vector<std::uint8_t> modulus;   // RSA, without leading zero bytes
    std::vector<std::uint8_t> exponent;  // RSA, likewise
    std::vector<std::uint8_t> curve;     // EC: the named curve's OID; empty if the key names none
    std::vector<std::uint8_t> point;     // EC: the public point; empty if the key carries none
};

// What the checks need of a certificate.
struct CertificateFacts {
    std::int64_t notBefore = 0;  // seconds since 1970-01-01 UTC
    std::int64_t notAfter = 0;
    PublicKey key;
};

// The leaf (the first CERTIFICATE block) of a PEM text, or of DER; nothing if it is no X.509
// certificate this reader can read.
std::optional<CertificateFacts> ReadLeafCertificate(std::string_view pem);
std::optional<CertificateFacts> CertificateFromDer(der::Bytes der);

// The public part of the private key in a PEM text (PKCS#8 PRIVATE KEY, PKCS#1 RSA PRIVATE KEY,
// or SEC1 EC PRIVATE KEY with an EC PARAMETERS block before it or not), or of DER with its PEM
// label and, for SEC1, the EC parameters' DER; nothing if it cannot be read.
std::optional<PublicKey> ReadPrivateKey(std::string_view pem);
std::optional<PublicKey> PrivateKeyFromDer(std::string_view label, der::Bytes der,
                                           der::Bytes ecParameters);

enum class KeyMatch {
    Same,
    Different,
    // The key carries no public part to compare (an EC key without its point, Ed25519 and other
    // algorithms): the pair cannot be compared without the curve's arithmetic.
    Unknown
};
KeyMatch CompareKeys(const PublicKey& certificate, const PublicKey& privateKey);

// "2026-12-08", the UTC date of seconds since 1970.
std::wstring DateText(std::int64_t seconds);

// The UTC date and time of seconds since 1970.
struct CivilTime {
    std::int64_t year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
CivilTime CivilTimeOf(std::int64_t seconds);

}  // namespace kdu
