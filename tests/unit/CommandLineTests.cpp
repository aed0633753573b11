#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace kdu::testing {
namespace {

using Mode = CommandLine::Mode;

TEST(CommandLine, SwitchesAndWhatTheyMean) {
    struct Case {
        std::vector<std::wstring> arguments;
        Mode mode;
        std::wstring logFile;
        std::wstring refused = {};
    };
    const Case cases[] = {
        {{}, Mode::Window, L""},
        {{L"/quiet"}, Mode::Quiet, L""},
        {{L"-QUIET"}, Mode::Quiet, L""},
        {{L"/Quiet", L"/LOG=C:\\Logs\\Kestova Update.log"},
         Mode::Quiet,
         L"C:\\Logs\\Kestova Update.log"},
        {{L"-log=x.log", L"-quiet"}, Mode::Quiet, L"x.log"},
        {{L"/?"}, Mode::Usage, L""},
        {{L"-HELP"}, Mode::Usage, L""},
        {{L"/log=x.log"}, Mode::Invalid, L""},  // only with /quiet
        {{L"/log="}, Mode::Invalid, L""},
        {{L"/silent"}, Mode::Quiet, L""},  // as installers are told to run unattended
        {{L"/S", L"/norestart"}, Mode::Quiet, L""},
        {{L"--quiet", L"/suppressmsgboxes"}, Mode::Quiet, L""},
        {{L"/VerySilent", L"/log", L"C:\\Logs\\a.log"}, Mode::Quiet, L"C:\\Logs\\a.log"},
        {{L"/qn", L"/log:x.log", L"/typo"}, Mode::QuietInvalid, L"x.log", L"/typo"},
        {{L"/uninstall", L"/log"}, Mode::Quiet, L""},  // never a window; the usual log
        {{L"quiet"}, Mode::Invalid, L""},
        {{L"/"}, Mode::Invalid, L""},
        // /quiet anywhere: never a box, whatever else is wrong.
        {{L"/quiet", L"extra"}, Mode::QuietInvalid, L"", L"extra"},
        {{L"/frobnicate", L"/log=x.log", L"-Quiet", L"/bad"},
         Mode::QuietInvalid,
         L"x.log",
         L"/frobnicate"},
        {{L"/?", L"/quiet"}, Mode::QuietInvalid, L"", L"/?"},
        {{L"/RESTORE"}, Mode::Window, L""},
        {{L"/restore", L"-quiet", L"/log=r.log"}, Mode::Quiet, L"r.log"},
        {{L"/restore", L"/log=r.log"}, Mode::Invalid, L""},
        {{L"/restore=yes", L"/quiet"}, Mode::QuietInvalid, L"", L"/restore=yes"},
        {{L"/CloseApps"}, Mode::Invalid, L""},  // only with /quiet
    };
    for (const auto& c : cases) {
        const auto line = ParseCommandLine(c.arguments);
        const std::wstring shown = c.arguments.empty() ? L"(none)" : c.arguments.front();
        EXPECT_EQ(line.mode, c.mode) << shown;
        EXPECT_EQ(line.logFile, c.logFile) << shown;
        EXPECT_EQ(line.invalidArgument, c.refused) << shown;
    }
    EXPECT_TRUE(ParseCommandLine({L"/RESTORE"}).restore);
    EXPECT_TRUE(ParseCommandLine({L"/quiet", L"-restore"}).restore);
    EXPECT_FALSE(ParseCommandLine({L"/quiet"}).restore);
    EXPECT_FALSE(ParseCommandLine({L"/restore=yes", L"/quiet"}).restore);
    EXPECT_TRUE(ParseCommandLine({L"/quiet", L"-closeapps"}).closeApps);
}

}  // namespace
}  // namespace kdu::testing
