#!/usr/bin/env bash
# A silent install and uninstall with no X display at all (DISPLAY unset):
# Wine ends a program that makes a window there, so this shows that /S
# makes none. The wizard, started the same way, shows that the display is
# really gone, and its run log names the window it could not open.
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

# the same script without its background: the wizard's own window
plain="$work/plain"
mkdir -p "$plain/files"
cp "$src/examples/hello/files/readme.txt" "$plain/files/"
printf 'QSP40\r\n[Global]\r\nApplicationName = Hello Quillset\r\nDefaultDir = C:\\QuillsetTest NoDisplay\r\n[Files]\r\nfiles\\readme.txt, %%MAINDIR%%readme.txt\r\n' \
  > "$plain/default.qsp"
"$src/tools/wine-run" --prefix "$prefix" --arch "$winearch" "$exe" build -q --arch "$arch" --stub "$(win "$stub")" \
  -o "$(win "$work/Plain.exe")" "$(win "$plain/default.qsp")" || fail "quillset build failed"

desktop_gone
unset DISPLAY
# No box can tell the user; the run log says which window did not open.
for setup in Setup Plain; do
  timeout 60 "$WINE" "$work/$setup.exe" "/LOG=$(win "$work/$setup.log")" >/dev/null 2>&1
  rc=$?
  [ $rc -ne 0 ] || fail "the wizard of $setup.exe ended with 0 without a display"
  [ ! -e "$folder" ] || fail "the wizard of $setup.exe installed without a display"
  window="the background window"
  [ $setup = Plain ] && window="the wizard's window"
  grep -q "Failure: $window cannot be opened" "$work/$setup.log" ||
    fail "$setup.exe's log does not say that $window cannot be opened: $(cat "$work/$setup.log")"
done

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
