#!/usr/bin/env bash
# The demo: builds the program, packages the sample deployment with kestova-package, lays out
# the package as a user's Downloads folder beside a sample KestovaDesktop install,
# records the install folder in the registry of a Wine prefix kept in build/demo, and starts the
# program. With a DISPLAY it opens in a real window; without one it runs in a virtual display,
# prints what the window shows and saves a screenshot.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh

echo "demo: building"
for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
echo "demo: the shipped 32-bit exe is build/win32/KestovaDesktopUpdater.exe" \
  "($(stat -c %s build/win32/KestovaDesktopUpdater.exe) bytes)"

demo=$root/build/demo
app=$demo/Downloads
install=$demo/KestovaDesktop
rm -rf "$app" "$install"
mkdir -p "$app" "$install"
rm -rf "$demo/dist"
build/native/tools/package/kestova-package --certificate sample/deployment/new-cert.pem \
  --key sample/deployment/new-key.pem --messages sample/deployment/messages.txt --out "$demo/dist" \
  --sign-certificate sample/signing/publisher-chain.pem --sign-key sample/signing/publisher-key.pem
cp "$demo"/dist/KestovaDesktopUpdater-*/* "$app/"  # the one package, named by its version
if osslsigncode verify -in "$app/KestovaDesktopUpdater.exe" -CAfile sample/signing/code-signing-ca.pem \
  >"$demo/signature.txt" 2>&1; then
  echo "demo: the packaged exe's signature verifies:" \
    "$(grep -m1 -o 'CN=Kestova Sample Publisher[^/]*' "$demo/signature.txt")," \
    "issued by the sample code-signing CA (osslsigncode verify)"
else
  cat "$demo/signature.txt"
  echo "demo: the packaged exe's signature does not verify" >&2
  exit 1
fi
export KDU_WINE_DIR=$demo/wine
source scripts/wine-env.sh
if [[ $KDU_WINE_BUILD == win64 ]]; then
  echo "demo: this machine cannot run 32-bit programs (its kernel has 32-bit emulation off):" \
    "the x86_64 build of the same sources takes the shipped exe's place"
  cp build/win64/KestovaDesktopUpdater.exe "$app/"
fi
cp sample/installed/Certificate.pem sample/installed/PrivateKey.pem "$install/"

headless=1
if [[ -n ${DISPLAY:-} && -z ${KDU_DEMO_HEADLESS:-} ]]; then
  headless=0
  export KDU_KEEP_DISPLAY=1
fi
scripts/wine-session.sh start
source scripts/wine-env.sh  # again, for the display the session started
trap 'scripts/wine-session.sh stop' EXIT

"$WINE" reg add 'HKCU\SOFTWARE\Kestova\Desktop' /v InstallPath /d "Z:${install//\//\\}" /f >/dev/null
echo "demo: HKCU\\SOFTWARE\\Kestova\\Desktop\\InstallPath = Z:${install//\//\\}"

if ((headless)); then
  export KDU_SCREENSHOTS="Z:$demo/screenshots"
  "$WINE" build/$KDU_WINE_BUILD/demo/kdu_demo_driver.exe "Z:${app//\//\\}\\KestovaDesktopUpdater.exe" \
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
