#!/usr/bin/env bash
# wine-session.sh start|stop: prepares (or ends) the Wine prefix and the virtual X display that
# the Windows tests and the demo run in. "start" is idempotent.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
mkdir -p "$KDU_WINE_DIR"

start_display() {
  if [[ -f $KDU_WINE_DIR/xvfb.pid ]] && kill -0 "$(cat "$KDU_WINE_DIR/xvfb.pid")" 2>/dev/null; then
    return
  fi
  local number=90
  while [[ -e /tmp/.X11-unix/X$number || -e /tmp/.X$number-lock ]]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -dpi 96 >"$KDU_WINE_DIR/xvfb.log" 2>&1 &
  echo $! >"$KDU_WINE_DIR/xvfb.pid"
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$number ]] && break; sleep 0.1; done
  echo ":$number" >"$KDU_WINE_DIR/display"
  export DISPLAY=":$number"
}

# In both registry views: a 32-bit program reads HKLM\Software through Wow6432Node.
reg_add() {
  "$WINE" reg add "$@" /reg:64 /f >/dev/null 2>&1
  "$WINE" reg add "$@" /reg:32 /f >/dev/null 2>&1
}

create_prefix() {
  # A prefix made before wine32 could run has no 32-bit side: made anew.
  if [[ -f $WINEPREFIX/system.reg ]]; then
    [[ $KDU_WINE_BUILD == win64 || -f $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]] && return
  fi
  echo "wine-session: creating the Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  "$WINE" wineboot --init >/dev/null 2>&1
  "$WINESERVER" -w
  # The fonts of a Traditional Chinese Windows: dialogs in 新細明體 (PMingLiU), served here by
  # AR PL UMing TW, which also has Latin letters (Wine would otherwise pick a CJK-only font).
  local fonts='HKCU\Software\Wine\Fonts\Replacements'
  reg_add "$fonts" /v PMingLiU /d "AR PL UMing TW"
  reg_add "$fonts" /v "新細明體" /d "AR PL UMing TW"
  reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "MS Shell Dlg" /d PMingLiU
  reg_add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96
  "$WINESERVER" -w
}

# Wine draws a window's caption buttons with Marlett, which it ships but does not register: without
# it, where Wine draws frames (a virtual desktop), the buttons show as the letters "0 1 r".
install_marlett() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [[ -f $fonts/marlett.ttf || ! -f /usr/share/wine/fonts/marlett.ttf ]] && return
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
  reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v "Marlett (TrueType)" /d marlett.ttf
  "$WINESERVER" -w
}

case ${1:-} in
  start)
    [[ -n ${KDU_KEEP_DISPLAY:-} ]] || start_display
    create_prefix
    install_marlett
    # A persistent wineserver keeps the prefix warm for every test that follows.
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true  # fails if one already runs
    # Start Wine's background services now, detached from any test's output: a service started
    # by a test would hold that test's output open, and CTest would wait for it.
    "$WINE" wineboot >/dev/null 2>&1 </dev/null
    ;;
  stop)
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    if [[ -f $KDU_WINE_DIR/xvfb.pid ]]; then
      kill "$(cat "$KDU_WINE_DIR/xvfb.pid")" 2>/dev/null || true
      rm -f "$KDU_WINE_DIR/xvfb.pid" "$KDU_WINE_DIR/display"
    fi
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
