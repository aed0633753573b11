// Prints the program's performance beside its baselines, measured in one run under the same
// Wine: start-up and memory against a minimal Win32 window and against one doing the same work, the
// update against its pauses and against CopyFileW, and the message file load at growing sizes.
// Medians of repeated runs.
//
// UpdaterBenchmark [--start-up | --replacement] <updater.exe> <minimal.exe> <same-work.exe>, all
// release builds.
// The same-work window is the second baseline: the updater's required work and nothing else.
// --start-up measures start-up and memory only, to compare builds of the program; --replacement
// the replacement against copying, and where its time goes.

#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "data/MessageFile.h"
#include "platform/win32/Controls.h"
#include "platform/win32/SystemErrors.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Services.h"
#include "platform/win32/Win32TextDecoder.h"
#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"
#include "tests/support/Win32TestSupport.h"
#include "update/CredentialReplacement.h"
#include "update/PackageCheck.h"

namespace kdu::bench {
namespace {

using Clock = std::chrono::steady_clock;
using testing::TempFolder;
using testing::WriteFileBytes;

const std::wstring kProductKey = L"SOFTWARE\\Kestova\\Desktop";
constexpr int kStartRuns = 15;
constexpr DWORD kTimeoutMs = 60000;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// --- Programs started and watched from outside, with the end-to-end tests' driver ---------

struct Start {
    double readyMs;
    double peakWorkingSetKiB;
};

// Starts a program and times it until its window is shown and, where asked, List1 holds the
// three introductory rows; then its peak working set.
Start StartUntilReady(const std::wstring& executable, std::wstring_view windowClass,
                      bool threeRows) {
    const auto started = Clock::now();
    const testing::UpdaterWindow window{executable, {}, windowClass};
    if (!window.Found()) throw std::runtime_error("the program showed no window");
    const auto deadline = started + std::chrono::milliseconds{kTimeoutMs};
    while (threeRows && window.ListCount(IDC_LIST1) < 3) {
        if (Clock::now() > deadline) throw std::runtime_error("the program did not get ready");
        ::Sleep(1);
    }
    const double readyMs = MillisecondsSince(started);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::K32GetProcessMemoryInfo(window.Process(), &counters, sizeof(counters));
    return {readyMs, static_cast<double>(counters.PeakWorkingSetSize) / 1024};
}

// An application folder with the program, 4 KB PEM-sized files and the six lines, and an
// install folder with the old pair that the registry value points to.
struct Setup {
    Setup(const std::wstring& updater, const std::wstring& sameWork) {
        ::CopyFileW(updater.c_str(), (app / L"KestovaDesktopUpdater.exe").c_str(), FALSE);
        ::CopyFileW(sameWork.c_str(), SameWork().c_str(), FALSE);
        const auto pair = testing::SamplePair();
        WriteFileBytes(app / L"data1.bin", pair.certificate);
        WriteFileBytes(app / L"data2.bin", pair.key);
        WriteFileBytes(app / L"data3.bin", "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n");
        InstallOldPair();
        testing::SetStringValue(kProductKey, L"InstallPath", install.Path());
    }
    ~Setup() { testing::DeleteValue(kProductKey, L"InstallPath"); }
    void InstallOldPair() const {
        WriteFileBytes(install / L"Certificate.pem", std::string(4000, 'c'));
        WriteFileBytes(install / L"PrivateKey.pem", std::string(1700, 'k'));
        ::DeleteFileW((install / L"Certificate.pem_old").c_str());
        ::DeleteFileW((install / L"PrivateKey.pem_old").c_str());
    }
    std::wstring Updater() const { return app / L"KestovaDesktopUpdater.exe"; }
    std::wstring SameWork() const { return app / L"SameWorkWindow.exe"; }

    TempFolder app{L"bench-app"};
    TempFolder install{L"bench-install"};
};

// --- The table -----------------------------------------------------------------------------

void Row(const char* figure, const std::string& measured, const std::string& baseline,
         const std::string& ratio, const char* target) {
    std::printf("| %-44s | %-14s | %-24s | %-16s | %-10s |\n", figure, measured.c_str(),
                baseline.c_str(), ratio.c_str(), target);
    std::fflush(stdout);  // each row as it is measured, also through a pipe
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

std::string Ratio(double measured, double baseline) { return Format("%.2fx", measured / baseline); }

double FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<double>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

// Against the empty window, the ratios measure mostly the design (Common Controls 6, COM and
// shell32); against the window doing the same work, the program's own overhead.
void StartUpAndMemory(const Setup& setup, const std::wstring& minimal) {
    std::vector<Start> updater, sameWork, empty;
    for (int run = 0; run < kStartRuns; ++run) {  // side by side, alternating
        updater.push_back(StartUntilReady(setup.Updater(), KDU_WINDOW_CLASS, true));
        sameWork.push_back(StartUntilReady(setup.SameWork(), {}, true));
        empty.push_back(StartUntilReady(minimal, {}, false));
    }
    const auto median = [](const std::vector<Start>& starts, double Start::*figure) {
        std::vector<double> values(starts.size());
        std::transform(starts.begin(), starts.end(), values.begin(),
                       [&](const Start& start) { return start.*figure; });
        return Median(values);
    };
    const double ready = median(updater, &Start::readyMs);
    const double memory = median(updater, &Start::peakWorkingSetKiB);
    for (const auto& [baseline, name, target, memoryTarget] :
         {std::tuple{&empty, "minimal window", "<= 1.15x", "<= 1.2x"},
          std::tuple{&sameWork, "same-work window", "report", "report"}}) {
        const double baselineReady = median(*baseline, &Start::readyMs);
        const double baselineMemory = median(*baseline, &Start::peakWorkingSetKiB);
        Row("start-up to Ready (List1 holds three rows)", Format("%.0f ms", ready),
            Format("%.0f ms ", baselineReady) + name, Ratio(ready, baselineReady), target);
        Row("peak working set at Ready", Format("%.0f KiB", memory),
            Format("%.0f KiB ", baselineMemory) + name, Ratio(memory, baselineMemory),
            memoryTarget);
    }
}

void ClickToClosingLines(const Setup& setup) {
    std::vector<double> durations;
    for (int run = 0; run < 3; ++run) {
        setup.InstallOldPair();
        const testing::UpdaterWindow window{setup.Updater()};
        while (window.Found() && window.ListCount(IDC_LIST1) < 3) ::Sleep(1);
        const HWND button = window.Control(IDC_COMMAND1);
        const auto clicked = Clock::now();
        ::PostMessageW(button, BM_CLICK, 0, 0);
        while (::IsWindowEnabled(button)) ::Sleep(1);  // disabled after the closing lines
        durations.push_back(MillisecondsSince(clicked));
    }
    Row("click to closing lines, 4 KB PEM files", Format("%.0f ms", Median(durations)),
        "3000 ms of pauses", Ratio(Median(durations), 3000), "<= 3050 ms");
}

// The moment in which a crash can leave the new certificate beside the old key: the rename of
// the new key over the old one, which follows the certificate's at once.
void LastRename(std::size_t bytes, const char* size) {
    TempFolder folder{L"bench-rename"};
    const auto target = folder / L"PrivateKey.pem";
    const auto temporary = target + std::wstring{kTemporarySuffix};
    const std::string content(bytes, 'k');
    win32::Win32FileSystem files;
    std::vector<double> renames;
    for (int run = 0; run < 15; ++run) {
        WriteFileBytes(target, content);
        const auto staged = files.WriteNewFile(content, temporary, target);
        const auto start = Clock::now();
        staged->RenameOver(target);
        renames.push_back(MillisecondsSince(start));
    }
    const auto figure = std::string{"the pair mixed: one rename over "} + size;
    Row(figure.c_str(), Format("%.2f ms", Median(renames)), "-", "-", "report");
}

// Forwards to the real file system and adds up the time each kind of call takes, so that the
// replacement's time can be told apart from the work it does in memory.
class TimedFileSystem final : public FileSystem {
public:
    enum Part { kRead, kWriteAndFlush, kRename, kFlushInPlace, kQuestions, kPartCount };
    static constexpr std::array<const char*, kPartCount> kPartNames{
        "reads of the 4 files (ReadAll, Hold)", "4 new files: DACL, attributes, write, flush",
        "4 renames", "2 flushes after renaming", "checks (replaceable, exists)"};

    explicit TimedFileSystem(FileSystem& real) : real_{real} {}

    // Adds the call's time to part, also when it throws.
    template <typename Call>
    auto Timed(Part part, Call call) {
        const auto start = Clock::now();
        struct AddOnReturn {
            double& total;
            Clock::time_point start;
            ~AddOnReturn() { total += MillisecondsSince(start); }
        } add{totals_[part], start};
        return call();
    }

    double Total(Part part) const { return totals_[part]; }

    Bytes ReadAll(const std::wstring& path) override {
        return Timed(kRead, [&] { return real_.ReadAll(path); });
    }
    bool Exists(const std::wstring& path) override {
        return Timed(kQuestions, [&] { return real_.Exists(path); });
    }
    bool SameFileName(std::string_view utf8Name, std::wstring_view name) override {
        return real_.SameFileName(utf8Name, name);
    }
    void CheckReplaceable(const std::wstring& path) override {
        Timed(kQuestions, [&] { real_.CheckReplaceable(path); });
    }
    bool IsReadOnly(const std::wstring& path) override {
        return Timed(kQuestions, [&] { return real_.IsReadOnly(path); });
    }
    FileFacts Inspect(const std::wstring& path) override {
        return Timed(kQuestions, [&] { return real_.Inspect(path); });
    }
    std::unique_ptr<NewFile> WriteNewFile(const Bytes& content, const std::wstring& path,
                                          const std::wstring& model) override {
        auto file = Timed(kWriteAndFlush, [&] { return real_.WriteNewFile(content, path, model); });
        return std::make_unique<TimedNewFile>(std::move(file), *this);
    }
    void Remove(const std::wstring& path) override { real_.Remove(path); }
    std::unique_ptr<HeldFile> Hold(const std::wstring& path) override {
        return Timed(kRead, [&] { return real_.Hold(path); });
    }
    std::wstring VirtualStoreCopyOf(const std::wstring& path) override {
        return real_.VirtualStoreCopyOf(path);
    }

private:
    class TimedNewFile final : public NewFile {
    public:
        TimedNewFile(std::unique_ptr<NewFile> real, TimedFileSystem& timer)
            : real_{std::move(real)}, timer_{timer} {}
        void RenameOver(const std::wstring& target) override {
            timer_.Timed(kRename, [&] { real_->RenameOver(target); });
        }
        void Flush() override {
            timer_.Timed(kFlushInPlace, [&] { real_->Flush(); });
        }

    private:
        std::unique_ptr<NewFile> real_;
        TimedFileSystem& timer_;
    };

    FileSystem& real_;
    std::array<double, kPartCount> totals_{};
};

// CopyFileW, then FlushFileBuffers on the copy: the least a copy that must survive a power cut
// costs.
void CopyAndFlush(const std::wstring& from, const std::wstring& to) {
    ::CopyFileW(from.c_str(), to.c_str(), FALSE);
    const win32::UniqueFile copy{
        ::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    if (copy) ::FlushFileBuffers(copy.get());
}

// A real certificate and key are a few kilobytes, where the work per file shows; the larger files
// show what grows with the size.
void ReplacementAgainstCopyFile(std::size_t bytes, const char* size) {
    TempFolder app{L"bench-copy-app"}, install{L"bench-copy-install"};
    const std::string old(bytes, 'o');
    const auto pair = testing::SamplePair(bytes);
    WriteFileBytes(app / L"data1.bin", pair.certificate);
    WriteFileBytes(app / L"data2.bin", pair.key);
    const auto paths =
        ComposePaths(app.Path(), install.Path(), L"Certificate.pem", L"PrivateKey.pem");
    const auto installOld = [&] {
        for (const auto& swap : paths.swaps) {
            ::DeleteFileW(swap.backup.c_str());
            WriteFileBytes(swap.installed, old);
        }
    };
    win32::Win32Services windows;
    std::vector<double> replacement, copies, flushedCopies;
    std::array<double, TimedFileSystem::kPartCount> parts{};
    constexpr int kRuns = 5;
    for (int run = 0; run < kRuns; ++run) {
        installOld();
        TimedFileSystem timed{windows.files};
        auto services = windows.All();
        Services timedServices{timed,          services.program, services.decoder,
                               services.shell, services.pause,   services.runLock,
                               services.clock, services.holders, services.record};
        auto start = Clock::now();
        ReplaceCredentials(timedServices, paths);
        replacement.push_back(MillisecondsSince(start));
        for (std::size_t part = 0; part < parts.size(); ++part) {
            parts[part] += timed.Total(static_cast<TimedFileSystem::Part>(part)) / kRuns;
        }

        // The same four copies, with nothing around them.
        installOld();
        start = Clock::now();
        for (const auto& swap : paths.swaps) {
            ::CopyFileW(swap.installed.c_str(), swap.backup.c_str(), FALSE);
            ::CopyFileW(swap.incoming.c_str(), swap.installed.c_str(), FALSE);
        }
        copies.push_back(MillisecondsSince(start));

        // And each copy flushed to the disk, as a copy that is to survive a power cut must be.
        installOld();
        start = Clock::now();
        for (const auto& swap : paths.swaps) {
            CopyAndFlush(swap.installed, swap.backup);
            CopyAndFlush(swap.incoming, swap.installed);
        }
        flushedCopies.push_back(MillisecondsSince(start));
    }
    const auto figure = std::string{"replacement of two "} + size + " files";
    Row(figure.c_str(), Format("%.1f ms", Median(replacement)),
        Format("%.1f ms CopyFileW x4", Median(copies)), Ratio(Median(replacement), Median(copies)),
        "report");
    Row(figure.c_str(), Format("%.1f ms", Median(replacement)),
        Format("%.1f ms CopyFileW+FlushFileBuffers x4", Median(flushedCopies)),
        Ratio(Median(replacement), Median(flushedCopies)), "<= 1.5x");
    // Where the time goes, as means over the runs. The package's checks in memory (PEM structure,
    // the leaf and the key) are timed alone on the same pair; the rest is the lock, the search for
    // a previous run's temporary files, the comparisons with the installed files and the freeing.
    double mean = 0;
    for (const double ms : replacement) mean += ms / kRuns;
    const auto share = [&](double ms) { return Format("%.0f%% of the mean", 100 * ms / mean); };
    double rest = mean;
    for (std::size_t part = 0; part < parts.size(); ++part) {
        Row(("  of which " + std::string{TimedFileSystem::kPartNames[part]}).c_str(),
            Format("%.1f ms", parts[part]), "-", share(parts[part]), "report");
        rest -= parts[part];
    }
    double checks = 0;
    for (int run = 0; run < kRuns; ++run) {
        CheckedPair incoming{pair.certificate, pair.key};
        const auto start = Clock::now();
        CheckPairContent(incoming, paths.swaps[0].incoming, paths.swaps[1].incoming,
                         windows.clock.UtcSeconds());
        checks += MillisecondsSince(start) / kRuns;
    }
    Row("  of which the checks in memory", Format("%.1f ms", checks), "-", share(checks), "report");
    Row("  of which the rest", Format("%.1f ms", rest - checks), "-", share(rest - checks),
        "report");
}

// What start-up does with the message file: read it, decode it from code page 950, split it,
// and put every line into a list box like List2.
void MessageFileLoad(int lines) {
    TempFolder folder{L"bench-messages"};
    std::string content;
    for (int line = 0; line < lines; ++line) {
        content +=
            testing::Big5(L"第 " + std::to_wstring(line) + L" 行：憑證更新說明文字") + "\r\n";
    }
    const auto path = folder / L"data3.bin";
    WriteFileBytes(path, content);

    const HWND list = ::CreateWindowExW(0, L"LISTBOX", L"", WS_POPUP | LBS_NOINTEGRALHEIGHT, 0, 0,
                                        400, 200, nullptr, nullptr, nullptr, nullptr);
    win32::ListBoxControl listBox{list};
    win32::Win32FileSystem files;
    win32::Win32TextDecoder decoder;
    std::vector<double> decoded, listed;
    for (int run = 0; run < (lines >= 100000 ? 3 : 7); ++run) {
        ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
        const auto start = Clock::now();
        const auto text = DecodeMessageLines(files.ReadAll(path), decoder);
        decoded.push_back(MillisecondsSince(start));
        for (const auto& line : text) listBox.Append(line);
        listed.push_back(MillisecondsSince(start));
    }
    ::DestroyWindow(list);
    const auto figure = "message file, " + std::to_string(lines) + " lines";
    Row(figure.c_str(), Format("%.1f ms", Median(listed)),
        Format("%.1f ms read and decode", Median(decoded)),
        Format("%.2f", 1000 * Median(listed) / lines) + " us/line",
        lines == 100000 ? "<= 200 ms" : "linear");
}

int Run(int argc, wchar_t** argv) {
    const bool startUpOnly = argc > 1 && std::wstring_view{argv[1]} == L"--start-up";
    if (startUpOnly) --argc, ++argv;
    const bool replacementOnly = argc > 1 && std::wstring_view{argv[1]} == L"--replacement";
    if (replacementOnly) --argc, ++argv;
    if (argc != 4) {
        std::fprintf(
            stderr,
            "usage: UpdaterBenchmark [--start-up | --replacement] <updater.exe> <minimal.exe> "
            "<same-work.exe>\n");
        return 2;
    }
    Row("figure", "measured", "baseline", "ratio", "target");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(16, '-').c_str(),
                std::string(26, '-').c_str(), std::string(18, '-').c_str(),
                std::string(12, '-').c_str());
    if (!replacementOnly) {
        const Setup setup{argv[1], argv[3]};
        StartUpAndMemory(setup, argv[2]);
        if (startUpOnly) return 0;
        const double exe = FileSize(argv[1]), minimal = FileSize(argv[2]);
        Row("i686 exe size, stripped", Format("%.0f KB", exe / 1024),
            Format("%.0f KB minimal window", minimal / 1024), Ratio(exe, minimal), "<= 100 KB");
        ClickToClosingLines(setup);
    }
    ReplacementAgainstCopyFile(std::size_t{4} << 10, "4 KB");
    ReplacementAgainstCopyFile(std::size_t{10} << 20, "10 MB");
    ReplacementAgainstCopyFile(std::size_t{60} << 20, "60 MB");  // the largest read whole is 64 MiB
    if (replacementOnly) return 0;
    LastRename(std::size_t{4} << 10, "4 KB");
    LastRename(std::size_t{100} << 20, "100 MB");
    for (const int lines : {10, 1000, 100000, 1000000}) MessageFileLoad(lines);
    return 0;
}

}  // namespace
}  // namespace kdu::bench

int wmain(int argc, wchar_t** argv) {
    try {
        return kdu::bench::Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark failed: %s\n", error.what());
        return 1;
    }
}
