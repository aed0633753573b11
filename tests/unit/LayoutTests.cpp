#include "app/Layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

namespace kdu::layout {
namespace {

TEST(Layout, At96DpiAPixelIsFifteenTwips) {
    EXPECT_EQ(ToPixels(kClientArea, 96), (Size{464, 231}));
    EXPECT_EQ(ToPixels(kList1, 96), (Rect{8, 16, 361, 196}));
    EXPECT_EQ(ToPixels(kCommand1, 96), (Rect{384, 16, 73, 33}));
    EXPECT_EQ(ToPixels(kList2, 96), (Rect{496, 56, 33, 64}));
    EXPECT_EQ(ToPixels(kImage1, 96), (Rect{384, 88, 59, 112}));
    EXPECT_EQ(ToPixels(kLabel1, 96), (Rect{320, 216, 161, 25}));
}

TEST(Layout, At144DpiHalfPixelsAreDropped) {
    EXPECT_EQ(ToPixels(kClientArea, 144), (Size{696, 346}));
    EXPECT_EQ(ToPixels(kList1, 144), (Rect{12, 24, 541, 294}));
    EXPECT_EQ(ToPixels(kCommand1, 144), (Rect{576, 24, 109, 49}));
    EXPECT_EQ(ToPixels(kImage1, 144), (Rect{576, 132, 88, 168}));
}

TEST(Layout, List2LiesBeyondTheClientAreaAtAnyDpi) {
    for (const int dpi : {96, 120, 144, 192, 288}) {
        EXPECT_GE(ToPixels(kList2, dpi).left, ToPixels(kClientArea, dpi).width) << dpi;
    }
}

TEST(Layout, LabelFontScalesWithDpi) {
    EXPECT_EQ(FontHeight(kLabelFontHundredthsOfPoint, 96), -11);
    EXPECT_EQ(FontHeight(kLabelFontHundredthsOfPoint, 144), -17);
    EXPECT_EQ(FontHeight(kLabelFontHundredthsOfPoint, 192), -22);
    // The face: 新細明體 where the system has it, whatever else it has.
    const auto with = [](std::initializer_list<std::wstring_view> faces) {
        return [faces](std::wstring_view face) { return std::ranges::count(faces, face) > 0; };
    };
    EXPECT_EQ(ChooseLabelFace(with({L"新細明體", L"Microsoft JhengHei UI"}), L"Segoe UI"),
              (LabelFace{L"新細明體", kLabelFontCharset}));
    EXPECT_EQ(ChooseLabelFace(with({L"Microsoft JhengHei UI"}), L"Segoe UI"),
              (LabelFace{L"Microsoft JhengHei UI", kLabelFontCharset}));
    EXPECT_EQ(ChooseLabelFace(with({}), L"Segoe UI"), (LabelFace{L"Segoe UI", kAnyCharset}));
}

}  // namespace
}  // namespace kdu::layout
