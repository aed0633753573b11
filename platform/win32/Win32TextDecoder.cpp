#include "platform/win32/Win32TextDecoder.h"

#include <windows.h>

#include <limits>

#include "platform/win32/SystemErrors.h"

namespace kdu::win32 {

std::wstring Win32TextDecoder::Decode(std::string_view bytes, Encoding encoding) {
    if (bytes.empty()) return {};
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw ErrorFromCode(ERROR_ARITHMETIC_OVERFLOW);
    }
    constexpr UINT kBig5 = 950;
    const UINT codePage = encoding == Encoding::Utf8 ? CP_UTF8 : kBig5;
    const int byteCount = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), byteCount, nullptr, 0);
    if (length == 0) throw LastError();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(codePage, 0, bytes.data(), byteCount, text.data(), length) == 0) {
        throw LastError();
    }
    return text;
}

}  // namespace kdu::win32
