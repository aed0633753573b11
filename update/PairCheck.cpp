#include "update/PairCheck.h"

#include <algorithm>
#include <array>

#include "platform/DecimalText.h"
#include "update/Pem.h"

namespace kdu {
namespace {

using der::Bytes;

// The DER of the object identifiers read here.
constexpr std::array<std::uint8_t, 9> kRsaEncryption{0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                     0x0D, 0x01, 0x01, 0x01};
constexpr std::array<std::uint8_t, 7> kEcPublicKey{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
// RSASSA-PSS: an RSA key restricted to PSS signatures. Its modulus and exponent are compared as
// any RSA key's; the restriction's parameters do not matter for that.
constexpr std::array<std::uint8_t, 9> kRsaPss{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A};

bool Is(Bytes oid, std::span<const std::uint8_t> known) {
    return std::equal(oid.begin(), oid.end(), known.begin(), known.end());
}

bool IsRsa(Bytes oid) { return Is(oid, kRsaEncryption) || Is(oid, kRsaPss); }

std::vector<std::uint8_t> Copy(Bytes bytes) { return {bytes.begin(), bytes.end()}; }

// The body of the first PEM block with this label, decoded; nothing if there is none, or it is
// not whole base64.
std::optional<std::vector<std::uint8_t>> PemBody(const PemText& pem, std::string_view label) {
    for (const auto& block : pem.blocks) {
        if (block.label != label) continue;
        if (!block.ended) return std::nullopt;
        return DecodedBody(block);
    }
    return std::nullopt;
}

Bytes View(const std::vector<std::uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

// RSAPublicKey or the start of RSAPrivateKey: the modulus and the public exponent.
std::optional<PublicKey> RsaKey(Bytes input, bool privateKey) {
    const auto sequence = der::ReadIf(input, der::kSequence);
    if (!sequence) return std::nullopt;
    Bytes fields = sequence->content;
    if (privateKey && !der::ReadIf(fields, der::kInteger)) return std::nullopt;  // the version
    const auto modulus = der::ReadIf(fields, der::kInteger);
    const auto exponent = der::ReadIf(fields, der::kInteger);
    if (!modulus || !exponent) return std::nullopt;
    PublicKey key;
    key.kind = PublicKey::Kind::Rsa;
    key.modulus = Copy(der::Magnitude(modulus->content));
    key.exponent = Copy(der::Magnitude(exponent->content));
    return key;
}

// ECPrivateKey (SEC1): its curve and public point, where it has them.
std::optional<PublicKey> EcPrivateKey(Bytes input) {
    const auto sequence = der::ReadIf(input, der::kSequence);
    if (!sequence) return std::nullopt;
    Bytes fields = sequence->content;
    if (!der::ReadIf(fields, der::kInteger) || !der::ReadIf(fields, der::kOctetString)) {
        return std::nullopt;
    }
    PublicKey key;
    key.kind = PublicKey::Kind::Ec;
    if (const auto parameters = der::ReadIf(fields, der::Explicit(0))) {
        Bytes inner = parameters->content;
        const auto curve = der::ReadIf(inner, der::kObjectIdentifier);
        if (!curve) return std::nullopt;  // explicit curve parameters: not read here
        key.curve = Copy(curve->content);
    }
    if (const auto publicKey = der::ReadIf(fields, der::Explicit(1))) {
        Bytes inner = publicKey->content;
        const auto bits = der::ReadIf(inner, der::kBitString);
        const auto point = bits ? der::WholeBytes(*bits) : std::nullopt;
        if (!point) return std::nullopt;
        key.point = Copy(*point);
    }
    return key;
}

// AlgorithmIdentifier: the algorithm, and the named curve where it is EC.
struct Algorithm {
    Bytes oid;
    Bytes curve;
};

std::optional<Algorithm> ReadAlgorithm(Bytes& input) {
    const auto sequence = der::ReadIf(input, der::kSequence);
    if (!sequence) return std::nullopt;
    Bytes fields = sequence->content;
    const auto oid = der::ReadIf(fields, der::kObjectIdentifier);
    if (!oid) return std::nullopt;
    Algorithm algorithm{oid->content, {}};
    if (const auto curve = der::ReadIf(fields, der::kObjectIdentifier)) {
        algorithm.curve = curve->content;
    }
    return algorithm;
}

std::optional<PublicKey> SubjectPublicKey(Bytes input) {
    const auto info = der::ReadIf(input, der::kSequence);
    if (!info) return std::nullopt;
    Bytes fields = info->content;
    const auto algorithm = ReadAlgorithm(fields);
    const auto bits = der::ReadIf(fields, der::kBitString);
    const auto key = bits ? der::WholeBytes(*bits) : std::nullopt;
    if (!algorithm || !key) return std::nullopt;
    if (IsRsa(algorithm->oid)) return RsaKey(*key, false);
    PublicKey publicKey;
    if (Is(algorithm->oid, kEcPublicKey)) {
        publicKey.kind = PublicKey::Kind::Ec;
        publicKey.curve = Copy(algorithm->curve);
        publicKey.point = Copy(*key);
    }
    return publicKey;
}

// PrivateKeyInfo (PKCS#8): the key inside, read by its algorithm.
std::optional<PublicKey> Pkcs8Key(Bytes input) {
    const auto sequence = der::ReadIf(input, der::kSequence);
    if (!sequence) return std::nullopt;
    Bytes fields = sequence->content;
    if (!der::ReadIf(fields, der::kInteger)) return std::nullopt;
    const auto algorithm = ReadAlgorithm(fields);
    const auto privateKey = der::ReadIf(fields, der::kOctetString);
    if (!algorithm || !privateKey) return std::nullopt;
    if (IsRsa(algorithm->oid)) return RsaKey(privateKey->content, true);
    if (!Is(algorithm->oid, kEcPublicKey)) return PublicKey{};
    auto key = EcPrivateKey(privateKey->content);
    if (key && key->curve.empty()) key->curve = Copy(algorithm->curve);
    return key;
}

// An EC point compressed (02 or 03, then X) or not (04, then X and Y) is the same point when X
// is the same and Y's parity is the one the compressed form gives.
bool SamePoint(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.empty() || b.empty()) return false;
    if (a[0] == b[0]) return a == b;
    const auto& full = a[0] == 4 ? a : b;
    const auto& compressed = a[0] == 4 ? b : a;
    if (full[0] != 4 || (compressed[0] != 2 && compressed[0] != 3)) return false;
    const std::size_t coordinate = compressed.size() - 1;
    if (full.size() != 1 + 2 * coordinate) return false;
    const bool oddY = (full.back() & 1) != 0;
    return std::equal(full.begin() + 1, full.begin() + 1 + static_cast<std::ptrdiff_t>(coordinate),
                      compressed.begin() + 1) &&
           oddY == (compressed[0] == 3);
}

}  // namespace

std::optional<CertificateFacts> CertificateFromDer(Bytes input) {
    const auto certificate = der::ReadIf(input, der::kSequence);
    if (!certificate) return std::nullopt;
    Bytes outer = certificate->content;
    const auto tbs = der::ReadIf(outer, der::kSequence);
    if (!tbs) return std::nullopt;
    Bytes fields = tbs->content;
    der::ReadIf(fields, der::Explicit(0));  // the version, where it is not 1
    const auto serial = der::ReadIf(fields, der::kInteger);
    const auto signature = der::ReadIf(fields, der::kSequence);
    const auto issuer = der::ReadIf(fields, der::kSequence);
    const auto validity = der::ReadIf(fields, der::kSequence);
    const auto subject = der::ReadIf(fields, der::kSequence);
    if (!serial || !signature || !issuer || !validity || !subject) return std::nullopt;
    Bytes times = validity->content;
    const auto notBefore = der::Read(times);
    const auto notAfter = der::Read(times);
    if (!notBefore || !notAfter) return std::nullopt;
    const auto from = der::Time(*notBefore);
    const auto until = der::Time(*notAfter);
    auto key = SubjectPublicKey(fields);
    if (!from || !until || !key) return std::nullopt;
    return CertificateFacts{*from, *until, std::move(*key)};
}

std::optional<CertificateFacts> ReadLeafCertificate(std::string_view pem) {
    const auto body = PemBody(ReadPem(pem), "CERTIFICATE");
    if (!body) return std::nullopt;
    return CertificateFromDer(View(*body));
}

std::optional<PublicKey> PrivateKeyFromDer(std::string_view label, Bytes input,
                                           Bytes ecParameters) {
    if (label == "RSA PRIVATE KEY") return RsaKey(input, true);
    if (label == "PRIVATE KEY") return Pkcs8Key(input);
    if (label != "EC PRIVATE KEY") return std::nullopt;
    auto key = EcPrivateKey(input);
    if (key && key->curve.empty()) {
        if (const auto curve = der::ReadIf(ecParameters, der::kObjectIdentifier)) {
            key->curve = Copy(curve->content);
        }
    }
    return key;
}

std::optional<PublicKey> ReadPrivateKey(std::string_view text) {
    const auto pem = ReadPem(text);
    for (const std::string_view label : {"PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY"}) {
        const auto has = [&](const PemBlock& block) { return block.label == label; };
        if (std::ranges::none_of(pem.blocks, has)) continue;
        const auto body = PemBody(pem, label);
        const auto parameters = PemBody(pem, "EC PARAMETERS");
        if (!body) return std::nullopt;
        return PrivateKeyFromDer(label, View(*body), parameters ? View(*parameters) : Bytes{});
    }
    return std::nullopt;
}

KeyMatch CompareKeys(const PublicKey& certificate, const PublicKey& privateKey) {
    using Kind = PublicKey::Kind;
    if (privateKey.kind == Kind::Other) {
        return certificate.kind == Kind::Other ? KeyMatch::Unknown : KeyMatch::Different;
    }
    if (certificate.kind != privateKey.kind) return KeyMatch::Different;
    if (privateKey.kind == Kind::Rsa) {
        return certificate.modulus == privateKey.modulus &&
                       certificate.exponent == privateKey.exponent
                   ? KeyMatch::Same
                   : KeyMatch::Different;
    }
    if (!privateKey.curve.empty() && privateKey.curve != certificate.curve) {
        return KeyMatch::Different;
    }
    if (privateKey.point.empty()) return KeyMatch::Unknown;
    return SamePoint(certificate.point, privateKey.point) ? KeyMatch::Same : KeyMatch::Different;
}

CivilTime CivilTimeOf(std::int64_t seconds) {
    // Howard Hinnant's civil_from_days.
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const auto ofDay = static_cast<unsigned>(seconds - days * 86400);
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(shifted - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    CivilTime time;
    time.day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    time.month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    time.year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (time.month <= 2);
    time.hour = ofDay / 3600;
    time.minute = ofDay / 60 % 60;
    time.second = ofDay % 60;
    return time;
}

std::wstring DateText(std::int64_t seconds) {
    const auto time = CivilTimeOf(seconds);
    const auto two = [](unsigned n) {
        return std::wstring{wchar_t(L'0' + n / 10), wchar_t(L'0' + n % 10)};
    };
    return DecimalText(time.year) + L"-" + two(time.month) + L"-" + two(time.day);
}

}  // namespace kdu
