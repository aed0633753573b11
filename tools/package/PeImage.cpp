#include "tools/package/PeImage.h"

namespace kdu::package {
namespace {

// Offsets in a PE file: the COFF header after "PE\0\0", then the optional header, whose data
// directories follow its fixed part (PE32 or PE32+), then the section table.
constexpr std::size_t kPeOffsetAt = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::size_t kChecksumAt = 64;   // in the optional header, PE32 and PE32+ alike
constexpr std::size_t kSubsystemAt = 68;  // likewise
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kSectionHeaderSize = 40;

// A little-endian number of the file, or nothing where the file ends before it.
std::optional<std::uint32_t> Read(std::string_view file, std::size_t at, std::size_t size) {
    if (at > file.size() || size > file.size() - at) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(file[at + i]);
    }
    return value;
}

std::optional<PeImage::Directory> ReadDirectory(std::string_view file, std::size_t at) {
    const auto address = Read(file, at, 4);
    const auto size = Read(file, at + 4, 4);
    if (!address || !size) return std::nullopt;
    return PeImage::Directory{*address, *size};
}

std::optional<PeImage::Section> ReadSection(std::string_view file, std::size_t at) {
    const auto virtualSize = Read(file, at + 8, 4);
    const auto address = Read(file, at + 12, 4);
    const auto rawSize = Read(file, at + 16, 4);
    const auto rawAt = Read(file, at + 20, 4);
    if (!virtualSize || !address || !rawSize || !rawAt) return std::nullopt;
    return PeImage::Section{*virtualSize, *address, *rawSize, *rawAt};
}

// The length of the DER SEQUENCE that begins bytes, header included, where it lies within them.
std::optional<std::size_t> SequenceLength(std::string_view bytes) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    if (bytes.size() < 2 || byte(0) != 0x30) return std::nullopt;
    std::size_t header = 2;
    std::size_t length = byte(1);
    if (length > 0x80 && length <= 0x84) {  // the long form: so many bytes of length follow
        const std::size_t count = length - 0x80;
        if (bytes.size() < header + count) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = (length << 8) | byte(header + i);
        header += count;
    } else if (length >= 0x80) {
        return std::nullopt;
    }
    if (length > bytes.size() - header) return std::nullopt;
    return header + length;
}

}  // namespace

std::optional<std::string_view> OneSignatureEntry(std::string_view file, const PeImage& image) {
    constexpr std::uint32_t kRevision2 = 0x0200;
    constexpr std::uint32_t kPkcsSignedData = 0x0002;
    constexpr std::size_t kHeaderSize = 8;  // WIN_CERTIFICATE: length, revision, type
    const std::size_t at = image.signature.address;
    if (at > file.size() || image.signature.size > file.size() - at) return std::nullopt;
    const auto table = file.substr(at, image.signature.size);
    const auto length = Read(table, 0, 4);
    if (!length || *length < kHeaderSize || *length > table.size() ||
        Read(table, 4, 2) != kRevision2 || Read(table, 6, 2) != kPkcsSignedData ||
        (std::size_t{*length} + 7) / 8 * 8 != table.size()) {
        return std::nullopt;
    }
    const auto signature = table.substr(kHeaderSize, *length - kHeaderSize);
    const auto signatureLength = SequenceLength(signature);
    if (!signatureLength || signature.size() - *signatureLength >= 8 ||
        table.find_first_not_of('\0', kHeaderSize + *signatureLength) != std::string_view::npos) {
        return std::nullopt;
    }
    return signature.substr(0, *signatureLength);
}

std::optional<PeImage> ReadPeImage(std::string_view file) {
    if (!file.starts_with("MZ")) return std::nullopt;
    const auto pe = Read(file, kPeOffsetAt, 4);
    if (!pe || *pe == 0 ||
        file.substr(std::min<std::size_t>(*pe, file.size()), 4) != std::string_view{"PE\0\0", 4}) {
        return std::nullopt;
    }
    const std::size_t coff = std::size_t{*pe} + 4;
    const std::size_t optional = coff + kCoffHeaderSize;
    const auto machine = Read(file, coff, 2);
    const auto sectionCount = Read(file, coff + 2, 2);
    const auto optionalSize = Read(file, coff + 16, 2);
    const auto characteristics = Read(file, coff + 18, 2);
    const auto magic = Read(file, optional, 2);
    const auto subsystem = Read(file, optional + kSubsystemAt, 2);
    if (!machine || !sectionCount || !optionalSize || !characteristics || !magic || !subsystem ||
        (*magic != kPe32 && *magic != kPe32Plus)) {
        return std::nullopt;
    }
    const std::size_t directories = optional + (*magic == kPe32 ? 96 : 112);
    const auto count = Read(file, directories - 4, 4);
    if (!count || *count <= kSecurityDirectory) return std::nullopt;
    const auto resources = ReadDirectory(file, directories + 8 * kResourceDirectory);
    const auto signature = ReadDirectory(file, directories + 8 * kSecurityDirectory);
    if (!resources || !signature) return std::nullopt;
    PeImage image{static_cast<std::uint16_t>(*machine),
                  static_cast<std::uint16_t>(*characteristics),
                  static_cast<std::uint16_t>(*subsystem),
                  *resources,
                  *signature,
                  {},
                  optional + kChecksumAt,
                  directories + 8 * kSecurityDirectory};
    const std::size_t table = optional + *optionalSize;
    for (std::uint32_t i = 0; i < *sectionCount; ++i) {
        const auto section = ReadSection(file, table + i * kSectionHeaderSize);
        if (!section) return std::nullopt;
        image.sections.push_back(*section);
    }
    return image;
}

}  // namespace kdu::package
