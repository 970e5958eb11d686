#!/usr/bin/env bash
# make demo: builds everything, packs examples/hello with the quillset
# command, and installs it under Wine. On a display of your own the wizard is
# yours to click through; otherwise it runs on a private Xvfb, is walked with
# the default answers, and every page is saved as a PNG in build/demo/,
# followed by the uninstaller. The 32-bit setup program where the host runs
# 32-bit programs, else the 64-bit one (tools/lanes decides, by trying).
# QS_DEMO_LANGUAGE=CODE (make demo LANGUAGE=de) builds with that bundled
# table and runs Wine with the ANSI code page the table is written in; the
# pictures go to build/demo/CODE/.
set -euo pipefail
cd "$(dirname "$0")/.."
language=${QS_DEMO_LANGUAGE:-}
# make passes its LANGUAGE on, which is gettext's variable too
if [ -n "$language" ] && [ "${LANGUAGE:-}" = "$language" ]; then unset LANGUAGE; fi
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
build_options=()
walk_table=()
if [ -n "$language" ]; then
  # CODE LANGUAGE... CODE-PAGE TABLE, as quillset languages lists them
  row=$(build/native/quillset languages | awk -v l="$language" 'NR > 1 && NF >= 4 && tolower($1) == tolower(l)')
  if [ -z "$row" ]; then
    echo "demo: no bundled table for LANGUAGE=$language; quillset languages lists them:" >&2
    build/native/quillset languages >&2
    exit 2
  fi
  code=$(awk '{print $1}' <<<"$row")
  codepage=$(awk '{print $(NF-1)}' <<<"$row")
  table=$(awk '{print $NF}' <<<"$row")
  case $codepage in
    1250) locale=pl_PL.UTF-8 ;;
    1251) locale=ru_RU.UTF-8 ;;
    932) locale=ja_JP.UTF-8 ;;
    936) locale=zh_CN.UTF-8 ;;
    *) locale=C.UTF-8 ;;
  esac
  export LC_ALL=$locale
  echo "demo: the $code table ($table), Wine with the ANSI code page $codepage ($locale)"
  out=build/demo/$code
  build_options=(--language "$code")
  walk_table=("Z:$(sed 's|/|\\|g' <<<"$table")")
fi
rm -rf "$out"
mkdir -p "$out"
build/native/quillset build --arch $arch "${build_options[@]}" -o "$out/Setup.exe" examples/hello/default.qsp
build/native/quillset list "$out/Setup.exe"

prefix=$tree/wineprefix
had_display=${DISPLAY:-}
tools/wine-session start "$prefix"
# The window manager's frames are not in a window's own pictures: let Wine
# draw the title bars itself, for the demo's own Xvfb only; the tests share
# this prefix and expect Wine's default.
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
tools/wine-run --prefix "$prefix" $tree/demo_walk.exe "$outwin\\Setup.exe" "$outwin" "${walk_table[@]}" || rc=$?
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "demo: screenshots in $out/:"
ls -1 "$out"/*.png
exit $rc
