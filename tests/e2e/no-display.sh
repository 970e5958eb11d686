#!/usr/bin/env bash
# A silent install and uninstall with no X display at all (DISPLAY unset):
# Wine ends a program that makes a window there, so this shows that /S
# makes none. The wizard, started the same way, shows that the display is
# really gone.
#   no-display.sh QUILLSET_EXE WINEPREFIX WINEARCH ARCH STUB SOURCE_DIR WORKDIR
set -uo pipefail
exe=$1 prefix=$2 winearch=$3 arch=$4 stub=$5 src=$6 work=$7
. "$src/tools/wine-env.sh"
wine_env "$prefix" "$winearch"
win() { echo "Z:$(echo "$1" | tr / '\\')"; }
fail() { echo "no-display: $*" >&2; exit 1; }

# The prefix's desktop process, started by the first program that needs it,
# keeps the display it found until it ends, a moment after the last program.
# One started here has none: the tests after this one could then open no
# window. So this waits for it to end, before and after.
desktop_gone() {
  local p
  for _ in $(seq 120); do
    local alive=
    for p in $(pgrep -f 'explorer.exe /desktop'); do
      tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && alive=1
    done
    [ -z "$alive" ] && return 0
    sleep 0.5
  done
  fail "the prefix's desktop process did not end"
}

rm -rf "$work" && mkdir -p "$work"
"$src/tools/wine-run" --prefix "$prefix" --arch "$winearch" "$exe" build -q --arch "$arch" --stub "$(win "$stub")" \
  -o "$(win "$work/Setup.exe")" "$(win "$src/examples/hello/default.qsp")" || fail "quillset build failed"
folder="$WINEPREFIX/drive_c/QuillsetTest NoDisplay"
rm -rf "$folder"

desktop_gone
unset DISPLAY
timeout 60 "$WINE" "$work/Setup.exe" >/dev/null 2>&1
rc=$?
[ $rc -ne 0 ] || fail "the wizard ended with 0 without a display"
[ ! -e "$folder" ] || fail "the wizard installed without a display"

timeout 120 "$WINE" "$work/Setup.exe" /S '/D=C:\QuillsetTest NoDisplay' >/dev/null 2>&1
rc=$?
[ $rc -eq 0 ] || fail "Setup.exe /S ended with $rc without a display"
for f in readme.txt hello.cmd docs/notes.txt hello.ini Uninstall.exe; do
  [ -f "$folder/$f" ] || fail "$f was not installed"
done

timeout 120 "$WINE" 'C:\QuillsetTest NoDisplay\Uninstall.exe' /S >/dev/null 2>&1
rc=$?
[ $rc -eq 0 ] || fail "Uninstall.exe /S ended with $rc without a display"
for _ in $(seq 120); do
  [ -e "$folder" ] || break
  sleep 0.5
done
[ ! -e "$folder" ] || fail "left behind: $(cd "$folder" && find . | tr '\n' ' ')"
desktop_gone
echo "no-display: the silent install and uninstall ran without a display; the wizard did not"
