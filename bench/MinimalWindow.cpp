// The benchmarks' baseline: the least a Win32 program does to show one empty window, built with
// the same compiler, runtime and link options as KestovaDesktopUpdater.exe.

#include "bench/BaselineWindow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const HWND window =
        kdu::bench::CreateBaselineWindow(instance, L"KduMinimalWindow", L"Minimal", 480, 240);
    if (!window) return 1;
    return kdu::bench::ShowAndRun(window, showCommand);
}
