# Sourced: the environment every Wine run of this project uses. KDU_WINE_DIR is the folder that
# holds the prefix and the session's state (default: build/wine under the source tree).
KDU_WINE_DIR=${KDU_WINE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine}
export KDU_WINE_DIR
export WINEPREFIX="$KDU_WINE_DIR/prefix"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: the program needs neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Traditional Chinese: Wine's ANSI code page becomes 950 (Big5), as on the target systems.
# KDU_WINE_LANG picks another, for a session of its own (the code page is fixed per session).
export LANG=${KDU_WINE_LANG:-zh_TW.UTF-8}
export LC_ALL=$LANG
# A prefix made by wine64 with wine32:i386 installed is a WoW64 prefix: it runs 32- and 64-bit
# programs side by side, wine64 handing a 32-bit one to the 32-bit loader.
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# The build whose programs run under Wine: the shipped i686 one, unless this kernel cannot run
# 32-bit code (see cmake/WineProbe.cmake); then the x86_64 build of the same sources.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  KDU_WINE_BUILD=win32
else
  KDU_WINE_BUILD=win64
fi
if [[ -z ${KDU_KEEP_DISPLAY:-} && -f $KDU_WINE_DIR/display ]]; then
  DISPLAY=$(cat "$KDU_WINE_DIR/display")
  export DISPLAY
fi
