#pragma once

// The window's layout, in twips (1/1440 inch) as it was designed, converted to pixels at the
// window's DPI. At 96 DPI a pixel is 15 twips.

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
inline constexpr wchar_t kLabelFontFace[] = L"新細明體";
inline constexpr int kLabelFontHundredthsOfPoint = 825;
inline constexpr int kLabelFontWeight = 400;
inline constexpr int kLabelFontCharset = 136;

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
