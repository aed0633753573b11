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
export LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
# 32-bit Wine cannot run on these machines; /usr/bin/wine may pick its broken loader.
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
if [[ -z ${KDU_KEEP_DISPLAY:-} && -f $KDU_WINE_DIR/display ]]; then
  DISPLAY=$(cat "$KDU_WINE_DIR/display")
  export DISPLAY
fi
