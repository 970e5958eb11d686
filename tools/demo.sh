#!/usr/bin/env bash
# make demo: builds everything, packs examples/hello with the quillset
# command, and installs it under Wine. On a display of your own the wizard is
# yours to click through; otherwise it runs on a private Xvfb, is walked with
# the default answers, and every page is saved as a PNG in build/demo/,
# followed by the uninstaller. The 32-bit setup program where the host runs
# 32-bit programs, else the 64-bit one (tools/lanes decides, by trying).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh
make all
if ! lanes=$(bash tools/lanes 2>"build/demo-lanes.txt"); then
  sed 's/^make check: /demo: /' build/demo-lanes.txt >&2
  exit 1
fi
why=$(sed -n 's/^make check: x86 lane skipped: \(.*\); the 32-bit.*/\1/p' build/demo-lanes.txt)
rm -f build/demo-lanes.txt
if [[ " $lanes " == *" x86 "* ]]; then
  arch=x86 tree=build/win32
  echo "demo: the 32-bit setup program (x86), in a 32-bit Wine prefix"
else
  arch=x64 tree=build/win64
  echo "demo: the 64-bit setup program (x64), in a 64-bit Wine prefix: ${why:-QS_LANES=${QS_LANES:-} asks for it}"
fi
cmake --build $tree --target demo_walk
out=build/demo
rm -rf "$out"
mkdir -p "$out"
build/native/quillset build --arch $arch -o "$out/Setup.exe" examples/hello/default.qsp
build/native/quillset list "$out/Setup.exe"

prefix=$tree/wineprefix
had_display=${DISPLAY:-}
tools/wine-session start "$prefix"
# Xvfb has no window manager: let Wine draw the title bars itself, for the
# demo's own Xvfb only: the tests share this prefix and expect Wine's default.
wine_unmanaged() {
  tools/wine-run --prefix "$prefix" reg "$1" 'HKCU\Software\Wine\X11 Driver' /v Managed "${@:2}" /f >/dev/null 2>&1 || true
}
trap 'wine_unmanaged delete; tools/wine-session stop "$prefix"' EXIT
export DISPLAY=${DISPLAY:-$(cat "$prefix.display")}

if [ -n "$had_display" ]; then
  echo "demo: the setup program is on your display; the uninstaller is left in the install folder"
  tools/wine-run --prefix "$prefix" "$out/Setup.exe"
  exit 0
fi
wine_unmanaged add /d N
outwin="Z:$(cd "$out" && pwd | sed 's|/|\\|g')"
# it ends with the uninstaller and says what, if anything, is left behind
rc=0
tools/wine-run --prefix "$prefix" $tree/demo_walk.exe "$outwin\\Setup.exe" "$outwin" || rc=$?
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "demo: screenshots in $out/:"
ls -1 "$out"/*.png
exit $rc
