#!/usr/bin/env bash
# Inspects the shipped 32-bit KestovaDesktopUpdater.exe: a PE32 that imports only DLLs Windows
# always loads from System32, with the manifest that keeps it unelevated and in the ANSI code page.
set -uo pipefail
exe=$1
objdump=$2
main_object=$3  # Main.cpp's object, unstripped
shift 3
program_objects=("$main_object" "$@")  # every object and library of the program's own code
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The KnownDLLs of Windows 10 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs)
# and those the loader maps from System32 before any search (kernel32, ntdll): a copy planted
# beside the exe is never loaded in their place.
known_dlls=" advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll gdi32.dll gdiplus.dll
  imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll ole32.dll
  oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll
  user32.dll wldap32.dll ws2_32.dll "
known_dlls=" $(echo $known_dlls) "

"$objdump" -f "$exe" | grep -q 'file format pei-i386' || fail "not a 32-bit (i386) PE file"

imports=$("$objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}')
echo "imports: $(echo $imports)"
[[ -n $imports ]] || fail "no import table found"
for dll in $imports; do
  [[ $known_dlls == *" $dll "* ]] || fail "imports $dll, which is not a KnownDLL"
done

# The manifest is stored as text in the resources.
grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "manifest lacks asInvoker"
grep -aq '<activeCodePage' "$exe" && fail "manifest sets activeCodePage"
grep -aq 'requireAdministrator\|highestAvailable' "$exe" && fail "manifest requests elevation"
grep -aq 'Microsoft.Windows.Common-Controls' "$exe" || fail "manifest lacks Common Controls 6"
grep -aq 'PerMonitorV2' "$exe" || fail "manifest lacks per-monitor DPI awareness"

# The first call of wWinMain restricts DLL loading to System32, and none of the program's own
# code runs before it (no static constructors). The runtime's start-up code, which does run
# before, loads no DLL by search: on i686 it asks GetModuleHandleA whether libgcc_s_dw2-1.dll is
# already loaded, and loads it only then.
first_call=$("$objdump" -dr "$main_object" | awk '/<_wWinMain@16>:/ {in_main = 1}
  in_main && /dir32|DISP32|REL32/ && /__imp_/ {print $3; exit}')
[[ $first_call == __imp__SetDefaultDllDirectories@4 ]] ||
  fail "wWinMain's first call is ${first_call:-unknown}, not SetDefaultDllDirectories"
for object in "${program_objects[@]}"; do
  "$objdump" -h "$object" | grep -Eq '\.ctors|\.init_array' &&
    fail "$(basename "$object") has static constructors, which run before wWinMain"
done

echo "size: $(stat -c %s "$exe") bytes"
if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
