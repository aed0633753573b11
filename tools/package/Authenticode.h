#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kdu::package {

// The first certificate of a PEM file, as a signature is checked against it.
struct LeafCertificate {
    std::string der;
    std::string sha256;   // of der, in hex
    std::string subject;  // its name, as OpenSSL writes it
    std::time_t notAfter = 0;
};
std::optional<LeafCertificate> ReadLeaf(std::string_view pem);

// What the builder requires of an exe's Authenticode signature, read from its PKCS#7 SignedData.
struct SignatureReading {
    std::string problem;       // empty when it is one SHA-256 signature by the leaf, none nested
    bool timestamped = false;  // an RFC 3161 timestamp, or the older countersignature
};
SignatureReading ReadSignature(std::string_view pkcs7, const LeafCertificate& leaf);

}  // namespace kdu::package
