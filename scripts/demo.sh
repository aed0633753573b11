#!/usr/bin/env bash
# The demo: builds the program, packages the sample deployment with kestova-package, lays out
# the package as a user's Downloads folder beside a sample KestovaDesktop install,
# records the install folder in the registry of a Wine prefix kept in build/demo, and starts the
# program. With a DISPLAY it opens in a real window; without one it runs in a virtual display,
# prints what the window shows and what /restore asks, and saves screenshots. Then it shows
# deployment: /quiet on a second copy of the package, once more for "already current", /uninstall
# twice (the second has nothing to undo), /S, and /restore /quiet.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if [[ -z ${KDU_DEMO_AFTER_SETUP:-} ]]; then
  scripts/setup.sh
  # Setup may have just generated the zh_TW.UTF-8 locale, which this shell cannot switch to
  # (glibc reads the locale archive once, when the shell starts): the rest runs in a new shell.
  KDU_DEMO_AFTER_SETUP=1 exec bash "$0" "$@"
fi

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

# Runs the packaged exe as a deployment tool would, and prints its exit code.
run_quietly() {
  local code=0
  "$WINE" "Z:${app2//\//\\}\\KestovaDesktopUpdater.exe" "$@" </dev/null || code=$?
  echo "demo: KestovaDesktopUpdater.exe $* -> exit code $code"
}

if ((headless)); then
  # Xvfb has no window manager: in a Wine virtual desktop, Wine draws the window's frame itself
  # (caption, icon, close button), so the pictures show the window as users see it.
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Demo /f >/dev/null
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Demo /d 800x600 /f >/dev/null
  export KDU_SCREENSHOTS="Z:$demo/screenshots"
  "$WINE" build/$KDU_WINE_BUILD/demo/kdu_demo_driver.exe "Z:${app//\//\\}\\KestovaDesktopUpdater.exe" \
    "Z:${install//\//\\}" "KestovaDesktopUpdater" </dev/null
  # The error box as a user meets it: a product installed under the user's profile on C:, whose
  # key another program has made read-only. The run changes nothing, and says so.
  profile_install='C:\users\'"$(id -un)"'\AppData\Local\KestovaDesktop'
  unix_install=$("$WINE" winepath -u "$profile_install" 2>/dev/null)
  mkdir -p "$unix_install"
  cp sample/installed/Certificate.pem sample/installed/PrivateKey.pem "$unix_install/"
  chmod a-w "$unix_install/PrivateKey.pem"  # Wine shows it as the read-only attribute
  "$WINE" reg add 'HKCU\SOFTWARE\Kestova\Desktop' /v InstallPath /d "$profile_install" /f >/dev/null
  "$WINE" build/$KDU_WINE_BUILD/demo/kdu_demo_driver.exe "Z:${app//\//\\}\\KestovaDesktopUpdater.exe" \
    "$profile_install" "KestovaDesktopUpdater-read-only-key" </dev/null >"$demo/read-only-key.txt"
  rm -rf "$unix_install"
  "$WINE" reg add 'HKCU\SOFTWARE\Kestova\Desktop' /v InstallPath /d "Z:${install//\//\\}" /f >/dev/null
  for bitmap in "$demo"/screenshots/*.bmp; do
    convert "$bitmap" "$demo/$(basename "${bitmap%.bmp}").png"
  done
  rm -rf "$demo/screenshots"
  "$WINE" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null
  echo "demo: screenshots saved as build/demo/KestovaDesktopUpdater-*.png"
else
  echo "demo: the window is open on $DISPLAY; close it to end the demo"
  "$WINE" "$app/KestovaDesktopUpdater.exe"
fi

# Deployment: the same package laid out a second time, over the sample install as it was.
echo "demo: deploying with /quiet (a second copy of the package, the install folder as it was)"
app2=$demo/Deployment
rm -rf "$app2" && mkdir -p "$app2" && cp "$app"/* "$app2/"
rm -f "$install"/*
cp sample/installed/Certificate.pem sample/installed/PrivateKey.pem "$install/"
log=$app2/update.log
logArgument="/log=Z:${log//\//\\}"
show_log() { echo "demo:   log: $(tail -n 1 "$log" | tr -d '\r' | sed 's/\t/ | /g')"; }
run_quietly /quiet "$logArgument"
show_log
run_quietly /quiet "$logArgument"
echo "demo:   (0 again: the pair is already the new one)"
show_log
show_record() {
  echo "demo:   detection value: $("$WINE" reg query 'HKCU\SOFTWARE\Kestova\DesktopUpdater' \
    /v InstalledCertificate 2>/dev/null | tr -d '\r' | awk '/InstalledCertificate/ {print $3}') \
(the package's rule: >= $(awk '/  Value: / {print $2}' "$demo"/dist/*.detection.txt 2>/dev/null | head -n 1))"
}
show_record
run_quietly /uninstall "$logArgument"
show_log
show_record
run_quietly /uninstall "$logArgument"
echo "demo:   (0 again, nothing changed: the installed pair is no longer this package's)"
show_log
run_quietly /S "$logArgument"
show_log
run_quietly /restore /quiet "$logArgument"
show_log
echo "demo:   the install folder after /restore (the previous pair back, the new one kept as _old):"
for file in "$install"/*; do
  holds="something else"
  for known in "$app2/data1.bin" "$app2/data2.bin" sample/installed/Certificate.pem \
    sample/installed/PrivateKey.pem; do
    if cmp -s "$file" "$known"; then holds="the same bytes as ${known#"$root"/}"; fi
  done
  echo "demo:     $(basename "$file"): $holds"
done
