#!/usr/bin/env bash
# check-exe.sh EXE OBJDUMP MAIN_OBJECT OBJECTS...: inspects KestovaDesktopUpdater.exe (the shipped
# i686 build, or its x86_64 build): it starts on Windows 7 SP1 (subsystem 6.1, every import on the
# pinned list and in Windows 7), imports only DLLs Windows always loads from System32, and has the
# manifest that keeps it unelevated and in the ANSI code page.
set -uo pipefail
exe=$1
objdump=$2
main_object=$3  # Main.cpp's object, unstripped
shift 3
allowed=$(dirname "${BASH_SOURCE[0]}")/allowed-imports.txt
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

format=$("$objdump" -f "$exe" | sed -n 's/.*file format //p')
case $format in
  pei-i386) wwinmain='_wWinMain@16' ;;
  pei-x86-64) wwinmain='wWinMain' ;;
  *) fail "not a PE file for i386 or x86-64: ${format:-unknown}" ;;
esac

headers=$("$objdump" -p "$exe")
subsystem=$(awk '/^MajorSubsystemVersion/ {major = $2} /^MinorSubsystemVersion/ {minor = $2}
  END {print major "." minor}' <<<"$headers")
[[ $subsystem == 6.1 ]] || fail "subsystem version $subsystem, not 6.1 (Windows 7)"

imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers")
echo "imports from: $(echo $imports)"
[[ -n $imports ]] || fail "no import table found"
for dll in $imports; do
  [[ $known_dlls == *" $dll "* ]] || fail "imports $dll, which is not a KnownDLL"
done

# Functions a KnownDLL forwards to a DLL that is none: the loader resolves a static import's
# forwarder as the exe loads, before the program restricts its DLL search, and looks in the
# application folder (a user's Downloads) first. They are looked up at run time instead.
forwarded="advapi32.dll!CryptAcquireContextW advapi32.dll!CryptCreateHash
  advapi32.dll!CryptHashData advapi32.dll!CryptGetHashParam advapi32.dll!CryptDestroyHash
  advapi32.dll!CryptReleaseContext advapi32.dll!SystemFunction036"

# Each imported function against the pinned list: on it, and in Windows 7 SP1 (6.1).
functions=$(awk '/DLL Name:/ {dll = tolower($3); next}
  dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print dll "!" $3}' <<<"$headers")
echo "$(wc -l <<<"$functions") functions imported"
while read -r import; do
  for name in $forwarded; do
    [[ $import == "$name" ]] && fail "imports $import, which advapi32 forwards to a DLL that is no KnownDLL"
  done
  minimum=$(awk -v import="$import" '$1 == import {print $2}' "$allowed")
  if [[ -z $minimum ]]; then
    fail "imports $import, which is not on $(basename "$allowed")"
  elif ! awk -v v="$minimum" 'BEGIN {split(v, p, "."); exit !(p[1] < 6 || (p[1] == 6 && p[2] <= 1))}'; then
    fail "imports $import, which Windows has only from $minimum (later than 7 SP1)"
  fi
done <<<"$functions"

grep -q 'TERMINAL_SERVICE_AWARE' <<<"$headers" ||
  fail "not terminal-server aware: a Remote Desktop session host applies its legacy layer"
# SHA-256 is the program's own: looking CryptoAPI up would, on a Windows 7 without KB2533623,
# load cryptsp.dll by name, from the application folder first.
grep -aq 'CryptAcquireContext' "$exe" && fail "looks CryptoAPI up, which loads cryptsp.dll"

# The manifest is stored as text in the resources.
grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "manifest lacks asInvoker"
grep -aq '<activeCodePage' "$exe" && fail "manifest sets activeCodePage"
grep -aq 'requireAdministrator\|highestAvailable' "$exe" && fail "manifest requests elevation"
grep -aq 'Microsoft.Windows.Common-Controls' "$exe" || fail "manifest lacks Common Controls 6"
grep -aq 'PerMonitorV2' "$exe" || fail "manifest lacks per-monitor DPI awareness"
grep -aq '35138b9a-5d96-4fbd-8e2d-a2440225f93a' "$exe" || fail "manifest does not list Windows 7"
grep -aq 'e2011457-1546-43c5-a5fe-008deee3d3f0' "$exe" && fail "manifest lists Windows Vista"

# The first call of wWinMain restricts DLL loading (RestrictDllSearch, which loads nothing), and
# none of the program's own code runs before it (no static constructors). The runtime's start-up
# code, which does run before, loads no DLL by search: on i686 it asks GetModuleHandleA whether
# libgcc_s_dw2-1.dll is already loaded, and loads it only then.
first_call=$("$objdump" -dr "$main_object" | awk -v main="<${wwinmain:-wWinMain}>:" '$2 == main {in_main = 1}
  in_main && /dir32|DISP32|REL32/ {print $3; exit}')
[[ $first_call == *RestrictDllSearch* ]] ||
  fail "wWinMain's first call is ${first_call:-unknown}, not RestrictDllSearch"
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
