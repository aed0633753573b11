#!/usr/bin/env bash
# The demo: builds the program, lays out a sample deployment and a sample KestovaDesktop install,
# records the install folder in the registry of a Wine prefix kept in build/demo, and starts the
# program. With a DISPLAY it opens in a real window; without one it runs in a virtual display,
# prints what the window shows and saves a screenshot.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh

echo "demo: building"
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
echo "demo: the shipped 32-bit exe is build/win32/KestovaDesktopUpdater.exe" \
  "($(stat -c %s build/win32/KestovaDesktopUpdater.exe) bytes); 32-bit Wine cannot run here," \
  "so the demo runs the same sources built for x86_64."

demo=$root/build/demo
app=$demo/Downloads
install=$demo/KestovaDesktop
rm -rf "$app" "$install"
mkdir -p "$app" "$install"
cp build/win64/KestovaDesktopUpdater.exe "$app/"
cp sample/new/data1.bin sample/new/data2.bin "$app/"
# The messages as the target systems read them: Big5, CR LF.
iconv -f UTF-8 -t BIG5 sample/messages.txt | sed 's/$/\r/' >"$app/data3.bin"
cp sample/installed/Certificate.pem sample/installed/PrivateKey.pem "$install/"

export KDU_WINE_DIR=$demo/wine
headless=1
if [[ -n ${DISPLAY:-} && -z ${KDU_DEMO_HEADLESS:-} ]]; then
  headless=0
  export KDU_KEEP_DISPLAY=1
fi
scripts/wine-session.sh start
source scripts/wine-env.sh
trap 'scripts/wine-session.sh stop' EXIT

"$WINE" reg add 'HKCU\SOFTWARE\Kestova\Desktop' /v InstallPath /d "Z:${install//\//\\}" /f >/dev/null
echo "demo: HKCU\\SOFTWARE\\Kestova\\Desktop\\InstallPath = Z:${install//\//\\}"

if ((headless)); then
  export KDU_SCREENSHOTS="Z:$demo/screenshots"
  "$WINE" build/win64/demo/kdu_demo_driver.exe "Z:${app//\//\\}\\KestovaDesktopUpdater.exe" \
    "Z:${install//\//\\}" "KestovaDesktopUpdater" </dev/null
  for bitmap in "$demo"/screenshots/*.bmp; do
    convert "$bitmap" "$demo/$(basename "${bitmap%.bmp}").png"
  done
  rm -rf "$demo/screenshots"
  echo "demo: screenshots saved as build/demo/KestovaDesktopUpdater-*.png"
else
  echo "demo: the window is open on $DISPLAY; close it to end the demo"
  "$WINE" "$app/KestovaDesktopUpdater.exe"
fi
