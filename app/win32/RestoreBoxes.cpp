#include "app/win32/RestoreBoxes.h"

#include <windows.h>

#include <string>

#include "app/Form1.h"
#include "app/Restore.h"
#include "app/Texts.h"
#include "app/win32/ErrorReport.h"

namespace kdu::win32 {
namespace {

class MessageBoxes final : public RestoreDialogs {
public:
    // 否 is the default button: an Enter pressed by habit changes nothing.
    bool Confirm(std::wstring_view question) override {
        return Box(question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    }
    void Inform(std::wstring_view text) override { Box(text, MB_OK | MB_ICONINFORMATION); }
    void ShowError(const SystemError& error, const std::wstring& installFolder) override {
        Box(ErrorMessageText(ForTheUser(error, installFolder), texts::kRestoreErrorIntroduction),
            MB_OK | MB_ICONERROR);
    }

private:
    static int Box(std::wstring_view text, UINT type) {
        const std::wstring shown{text};
        const std::wstring caption{texts::kCaption};
        // No owner: the box is the program's only window, and gets a taskbar button of its own.
        return ::MessageBoxW(nullptr, shown.c_str(), caption.c_str(), type | MB_SETFOREGROUND);
    }
};

}  // namespace

int RestoreWithBoxes(const Services& services) {
    MessageBoxes boxes;
    return static_cast<int>(ExitCode(RestoreWithQuestion(services, boxes)));
}

}  // namespace kdu::win32
