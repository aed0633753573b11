#include "platform/win32/DpiScaling.h"

namespace kdu::win32 {
namespace {

// The system DPI: what Windows 7 scales everything to, and what the metrics without a DPI
// argument are given at.
UINT ScreenDpi() {
    const UniqueScreenDc screen{::GetDC(nullptr)};
    const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

UINT DpiScaling::WindowDpi(HWND window) const {
    if (functions_.getDpiForWindow) {
        if (const UINT dpi = functions_.getDpiForWindow(window)) return dpi;
    }
    if (functions_.getDpiForMonitor) {
        constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
        UINT dpiX = 0;
        UINT dpiY = 0;
        const HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
        if (SUCCEEDED(functions_.getDpiForMonitor(monitor, kEffectiveDpi, &dpiX, &dpiY)) && dpiY) {
            return dpiY;
        }
    }
    return ScreenDpi();
}

SIZE DpiScaling::WindowSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi) const {
    RECT frame{0, 0, client.cx, client.cy};
    // Before Windows 10 the frame is drawn at the system DPI whatever the monitor's, which is
    // what AdjustWindowRectEx measures.
    if (!functions_.adjustWindowRectExForDpi ||
        !functions_.adjustWindowRectExForDpi(&frame, style, FALSE, exStyle, dpi)) {
        frame = RECT{0, 0, client.cx, client.cy};
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

UniqueFont DpiScaling::MessageFont(UINT dpi) const {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (functions_.systemParametersInfoForDpi &&
        functions_.systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0,
                                              dpi)) {
        return UniqueFont{::CreateFontIndirectW(&metrics.lfMessageFont)};
    }
    // The font comes at the system DPI; scaled to the window's, as Windows 10 would give it.
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return UniqueFont{};
    }
    LOGFONTW& font = metrics.lfMessageFont;
    font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
    return UniqueFont{::CreateFontIndirectW(&font)};
}

}  // namespace kdu::win32
