#!/usr/bin/env bash
# clang-format and clang-tidy over every C++ file: the portable code against the native build,
# the Win32 code against the x86_64 MinGW build (clang is told where MinGW's headers are).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' ':!cmake/*')
clang-format --dry-run --Werror "${sources[@]}"

[[ -f build/native/compile_commands.json && -f build/win64/compile_commands.json ]] || {
  echo "lint: configure the native and win64 presets first" >&2
  exit 1
}
native=() windows=()
for source in "${sources[@]}"; do
  [[ $source == *.cpp ]] || continue
  if grep -q "\"file\": \"$root/$source\"" build/native/compile_commands.json; then
    native+=("$source")
  elif grep -q "\"file\": \"$root/$source\"" build/win64/compile_commands.json; then
    windows+=("$source")
  fi
done
mingw=/usr/lib/gcc/x86_64-w64-mingw32/12-win32/include/c++
jobs=$(nproc)
printf '%s\n' "${native[@]}" | xargs -P "$jobs" -n 3 clang-tidy --quiet -p build/native 2>/dev/null
printf '%s\n' "${windows[@]}" | xargs -P "$jobs" -n 3 clang-tidy --quiet -p build/win64 \
  --extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-isystem$mingw \
  --extra-arg=-isystem$mingw/x86_64-w64-mingw32 2>/dev/null
echo "lint: clang-format and clang-tidy passed (${#native[@]} native, ${#windows[@]} Windows files)"
