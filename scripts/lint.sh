#!/usr/bin/env bash
# clang-format and clang-tidy over every C++ file: the portable code against the native build,
# the Win32 code against the i686 MinGW build (clang is told where MinGW's headers are).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' ':!cmake/*')
clang-format --dry-run --Werror "${sources[@]}"

[[ -f build/native/compile_commands.json && -f build/win32/compile_commands.json ]] || {
  echo "lint: configure the native and win32 presets first" >&2
  exit 1
}
native=() windows=()
for source in "${sources[@]}"; do
  [[ $source == *.cpp ]] || continue
  if grep -q "\"file\": \"$root/$source\"" build/native/compile_commands.json; then
    native+=("$source")
  elif grep -q "\"file\": \"$root/$source\"" build/win32/compile_commands.json; then
    windows+=("$source")
  fi
done
# MinGW's C++ headers, of whichever version is installed.
mingw=$(dirname "$(i686-w64-mingw32-g++-win32 -print-libgcc-file-name)")/include/c++
jobs=$(nproc)
# Both sets run whatever the first finds, so that one run names every file to mend.
failed=0
printf '%s\n' "${native[@]}" | xargs -P "$jobs" -n 3 clang-tidy --quiet -p build/native \
  2>/dev/null || failed=1
printf '%s\n' "${windows[@]}" | xargs -P "$jobs" -n 3 clang-tidy --quiet -p build/win32 \
  --extra-arg=--target=i686-w64-mingw32 --extra-arg=-isystem$mingw \
  --extra-arg=-isystem$mingw/i686-w64-mingw32 2>/dev/null || failed=1
if ((failed)); then
  echo "lint: clang-tidy found the problems above" >&2
  exit 1
fi
echo "lint: clang-format and clang-tidy passed (${#native[@]} native, ${#windows[@]} Windows files)"
