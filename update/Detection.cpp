#include "update/Detection.h"

#include "platform/DecimalText.h"
#include "update/PairCheck.h"

namespace kdu {

std::wstring DetectionVersion(std::int64_t notBefore) {
    const auto time = CivilTimeOf(notBefore);
    return DecimalText(time.year) + L"." + DecimalText(time.month * 100 + time.day) + L"." +
           DecimalText(time.hour * 100 + time.minute) + L"." + DecimalText(time.second);
}

std::wstring DetectionVersionOf(std::string_view certificatePem) {
    const auto leaf = ReadLeafCertificate(certificatePem);
    return leaf ? DetectionVersion(leaf->notBefore) : std::wstring{};
}

}  // namespace kdu
