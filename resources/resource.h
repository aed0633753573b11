#pragma once

// Resource identifiers, shared by the .rc and the code.
#define IDI_APPLICATION_ICON 1
#define IDB_IMAGE1 101
// The package's digests, written by the package builder before it signs (RCDATA).
#define IDR_PACKAGE_DIGESTS 201

// Control identifiers of the main window; UI-automation tools find the controls by them.
#define IDC_LIST1 1001
#define IDC_COMMAND1 1002
#define IDC_LIST2 1003
#define IDC_IMAGE1 1004
#define IDC_LABEL1 1005

// The main window's class name.
#define KDU_WINDOW_CLASS L"KestovaDesktopUpdaterForm1"
// The class of the window /quiet makes, never shown, so that Windows asks it about the end of the
// session.
#define KDU_QUIET_WINDOW_CLASS L"KestovaDesktopUpdaterQuiet"
