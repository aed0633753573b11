#pragma once

// The one place the program's version is written; the version resource is built from it.
#define KDU_VERSION_MAJOR 1
#define KDU_VERSION_MINOR 0
#define KDU_VERSION_TEXT "1.00"
#define KDU_PRODUCT_NAME "KestovaDesktopUpdater"
#define KDU_FILE_NAME "KestovaDesktopUpdater.exe"
#define KDU_COMPANY_NAME "Kestova"
#define KDU_FILE_DESCRIPTION "KestovaDesktop certificate and private key updater"
#define KDU_COPYRIGHT "Copyright (C) 2026 Kestova"

// Chinese (Traditional, Taiwan), Unicode strings.
#define KDU_LANGUAGE 0x0404
#define KDU_CODE_PAGE 1200
#define KDU_STRING_BLOCK "040404B0"
