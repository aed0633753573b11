#pragma once

// The window's layout, in twips (1/1440 inch) as it was designed, converted to pixels at the
// window's DPI. At 96 DPI a pixel is 15 twips.

#include <array>
#include <string_view>

namespace kdu::layout {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

inline constexpr Size kClientArea{6960, 3465};
inline constexpr Rect kList1{120, 240, 5415, 2940};
inline constexpr Rect kCommand1{5760, 240, 1095, 495};
inline constexpr Rect kList2{7440, 840, 495, 960};  // beyond the right edge: never seen
inline constexpr Rect kImage1{5760, 1320, 885, 1680};
inline constexpr Rect kLabel1{4800, 3240, 2415, 375};

// Label1's font: 新細明體 8.25 pt, weight 400, Big5 character set.
inline constexpr int kLabelFontHundredthsOfPoint = 825;
inline constexpr int kLabelFontWeight = 400;
inline constexpr int kLabelFontCharset = 136;  // CHINESEBIG5_CHARSET
inline constexpr int kAnyCharset = 1;          // DEFAULT_CHARSET
// 新細明體 is a supplemental font on Windows 10 and 11 installs that are not Traditional Chinese;
// Microsoft JhengHei UI, from Windows 8, is its nearest.
inline constexpr std::array<std::wstring_view, 2> kLabelFontFaces{L"新細明體",
                                                                  L"Microsoft JhengHei UI"};

struct LabelFace {
    std::wstring_view face;
    int charset = kLabelFontCharset;
    friend bool operator==(const LabelFace&, const LabelFace&) = default;
};

// Label1's face, the same size whichever it is: the first of kLabelFontFaces the system has, else
// the message font's, in any character set (in Big5, the font mapper would put a Big5 font of its
// own choice in its place; in any, font linking draws the Chinese).
constexpr LabelFace ChooseLabelFace(const auto& systemHas, std::wstring_view messageFace) {
    for (const auto face : kLabelFontFaces) {
        if (systemHas(face)) return {face, kLabelFontCharset};
    }
    return {messageFace, kAnyCharset};
}

// Whole pixels, truncated, as the twips were measured against: 464 x 231 at 96 DPI, 696 x 346 at
// 144 DPI. Rounding instead would grow a half-pixel edge at 144 DPI.
constexpr int ToPixels(int twips, int dpi) { return twips * dpi / 1440; }
constexpr Size ToPixels(Size twips, int dpi) {
    return {ToPixels(twips.width, dpi), ToPixels(twips.height, dpi)};
}
constexpr Rect ToPixels(Rect twips, int dpi) {
    return {ToPixels(twips.left, dpi), ToPixels(twips.top, dpi), ToPixels(twips.width, dpi),
            ToPixels(twips.height, dpi)};
}

// A font's cell height in pixels (the negative LOGFONT height), rounded to the nearest pixel.
constexpr int FontHeight(int hundredthsOfPoint, int dpi) {
    return -((hundredthsOfPoint * dpi + 3600) / 7200);
}

}  // namespace kdu::layout
