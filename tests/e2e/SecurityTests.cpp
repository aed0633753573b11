// What the program must never do, run from a Downloads folder: load a DLL planted beside it, or
// write anywhere but the install folder.

#include <gtest/gtest.h>

#include <map>

#include "resources/resource.h"
#include "tests/e2e/UpdaterDriver.h"

namespace kdu::testing {
namespace {

constexpr DWORD kRunTimeoutMs = 30000;

// DLLs that programs load by name and attackers plant in Downloads folders, with the DLLs the
// exe imports and the runtime DLLs a MinGW build could need.
const std::vector<std::wstring> kPlantedNames = {
    L"version.dll",        L"uxtheme.dll", L"dwmapi.dll",         L"cryptbase.dll",
    L"profapi.dll",        L"winmm.dll",   L"sspicli.dll",        L"propsys.dll",
    L"comctl32.dll",       L"imm32.dll",   L"msctf.dll",          L"wshom.ocx",
    L"scrrun.dll",         L"oleacc.dll",  L"textshaping.dll",    L"shcore.dll",
    L"kernel32.dll",       L"user32.dll",  L"gdi32.dll",          L"ole32.dll",
    L"oleaut32.dll",       L"msvcrt.dll",  L"libgcc_s_seh-1.dll", L"libstdc++-6.dll",
    L"libwinpthread-1.dll"};
// Wine prefers its own built-in DLLs; these are switched to "native first" for the programs
// under test, so that a planted copy is loaded if the program lets the loader search its folder.
// Left built-in: the core DLLs, which Wine cannot run without, and version.dll and imm32.dll,
// which Wine's own user32 imports: Wine loads them before the program's first instruction, where
// no program can protect itself. On Windows the exe's imports are KnownDLLs, whose imports are
// resolved in System32, so nothing is searched for in its folder at that stage.
const std::vector<std::wstring> kNativeFirst = {
    L"uxtheme", L"dwmapi", L"cryptbase", L"profapi",     L"winmm", L"sspicli",
    L"propsys", L"scrrun", L"oleacc",    L"textshaping", L"shcore"};

std::wstring OverridesOf(std::wstring_view exeName) {
    return L"Software\\Wine\\AppDefaults\\" + std::wstring{exeName} + L"\\DllOverrides";
}

class Security : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(app / L"data1.bin", SamplePair().certificate);
        WriteFileBytes(app / L"data2.bin", newKey);
        app.WriteMessages("one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n");
        WriteFileBytes(install / L"Certificate.pem", "OLD CERTIFICATE");
        WriteFileBytes(install / L"PrivateKey.pem", "OLD KEY");
        SetStringValue(kProductKey, kInstallPathName, install.Path());
    }
    void TearDown() override { DeleteValue(kProductKey, kInstallPathName); }

    const std::string newKey = SamplePair().key;

    // Starts the program, runs the whole update, and closes the window.
    void RunUpdate() const {
        UpdaterWindow window{app.Executable()};
        ASSERT_TRUE(window.Found());
        window.Click(IDC_COMMAND1);
        ASSERT_TRUE(window.WaitUntilDone(kDoneRows, kRunTimeoutMs));
        EXPECT_EQ(window.ListItems(IDC_LIST1).size(), 7U) << "the closing lines";
        EXPECT_EQ(window.Close(), 0U);
    }

    std::vector<std::wstring> LoadedPlants() const {
        std::vector<std::wstring> loaded;
        for (const auto& name : kPlantedNames) {
            if (FileExists(app / (name + L".loaded"))) loaded.push_back(name);
        }
        return loaded;
    }

    Deployment app;
    TempFolder install{L"install"};
};

// What this shows under Wine: with the planted DLLs preferred over Wine's own wherever the
// loader finds them, the program still loads none from its folder, while a program that loads
// DLLs by name does. Wine's loader is not Windows': it proves that the program restricts its
// own loads (SetDefaultDllDirectories): without that call the planted uxtheme.dll is loaded and
// this test fails. It does not prove how Windows resolves KnownDLLs and static imports, which the
// check of the shipped exe's imports covers.
TEST_F(Security, DllsPlantedBesideTheExeAreNeverLoaded) {
    const std::wstring careless = app / L"LoadByName.exe";
    ASSERT_TRUE(::CopyFileW(Environment(L"KDU_LOAD_BY_NAME").c_str(), careless.c_str(), FALSE));
    for (const auto& name : kPlantedNames) {
        ASSERT_TRUE(
            ::CopyFileW(Environment(L"KDU_PLANTED_DLL").c_str(), (app / name).c_str(), FALSE));
    }
    for (const auto* exe : {L"KestovaDesktopUpdater.exe", L"LoadByName.exe"}) {
        for (const auto& name : kNativeFirst)
            SetStringValue(OverridesOf(exe), name, L"native,builtin");
    }

    // The control: loading by name from the exe's folder does pick up a planted DLL.
    std::wstring commandLine = L"\"" + careless + L"\" uxtheme.dll dwmapi.dll scrrun.dll";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(careless.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                 nullptr, app.Folder().c_str(), &startup, &process));
    ::WaitForSingleObject(process.hProcess, 30000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    const std::vector<std::wstring> controlLoaded{L"uxtheme.dll", L"dwmapi.dll", L"scrrun.dll"};
    EXPECT_EQ(LoadedPlants(), controlLoaded) << "the marker DLL must show a careless load";
    for (const auto& name : controlLoaded) ::DeleteFileW((app / (name + L".loaded")).c_str());

    RunUpdate();
    EXPECT_EQ(LoadedPlants(), std::vector<std::wstring>{}) << "planted DLLs the program loaded";
    EXPECT_EQ(ReadFileBytes(install / L"PrivateKey.pem"), newKey);

    for (const auto* exe : {L"KestovaDesktopUpdater.exe", L"LoadByName.exe"}) {
        for (const auto& name : kNativeFirst) DeleteValue(OverridesOf(exe), name);
    }
}

// Every file under a folder, with its size and last write time.
using Listing = std::map<std::wstring, std::pair<ULONGLONG, ULONGLONG>>;

void List(const std::wstring& folder, Listing& listing) {
    WIN32_FIND_DATAW entry{};
    const win32::UniqueFind search{::FindFirstFileW((folder + L"\\*").c_str(), &entry)};
    if (!search) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const auto path = folder + L"\\" + name;
        // Folders Wine links to Unix folders (the user's Desktop, Documents...) lead outside.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            List(path, listing);
            continue;
        }
        listing[path] = {(ULONGLONG{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow,
                         (ULONGLONG{entry.ftLastWriteTime.dwHighDateTime} << 32) |
                             entry.ftLastWriteTime.dwLowDateTime};
    } while (::FindNextFileW(search.get(), &entry));
}

std::vector<std::wstring> Changes(const Listing& before, const Listing& after) {
    std::vector<std::wstring> changes;
    for (const auto& [path, state] : after) {
        const auto was = before.find(path);
        if (was == before.end()) {
            changes.push_back(L"new: " + path);
        } else if (was->second != state) {
            changes.push_back(L"changed: " + path);
        }
    }
    for (const auto& [path, state] : before) {
        if (!after.contains(path)) changes.push_back(L"deleted: " + path);
    }
    return changes;
}

TEST_F(Security, WritesNothingOutsideTheInstallFolder) {
    // The Wine prefix's drive (its Windows, Program Files, user profile and temporary folders)
    // and the application folder.
    Listing before;
    List(L"C:", before);
    List(app.Folder(), before);
    ASSERT_GT(before.size(), 100U);

    RunUpdate();

    Listing after;
    List(L"C:", after);
    List(app.Folder(), after);
    const auto changes = Changes(before, after);
    std::wstring report;
    for (const auto& change : changes) report += change + L"\n";
    EXPECT_TRUE(changes.empty()) << std::string(report.begin(), report.end());
    EXPECT_EQ(ReadFileBytes(install / L"Certificate.pem_old"), "OLD CERTIFICATE");
}

}  // namespace
}  // namespace kdu::testing
