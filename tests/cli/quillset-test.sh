#!/usr/bin/env bash
# quillset test on real setup files, in every lane this host runs: the
# example project installs and uninstalls with nothing left; a setup whose
# uninstaller leaves a file behind fails and names the file; without Wine
# the command says what to install and exits 2.
#   quillset-test.sh QUILLSET SOURCE_DIR STUB32 STUB64 WORKDIR
set -uo pipefail
quillset=$1 src=$2 stub32=$3 stub64=$4 work=$5
fail() { echo "quillset-test: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work"

PATH=/nonexistent QUILLSET_WINE_DIR=/nonexistent "$quillset" test "$stub32" > "$work/nowine.out" 2>&1
rc=$?
[ $rc -eq 2 ] || fail "without Wine: exit $rc, not 2"
grep -q "apt-get install wine" "$work/nowine.out" || fail "without Wine it does not say what to install: $(cat "$work/nowine.out")"

# Builds project for lane and runs quillset test on it; its output in $out.
run_test() {
  local name=$1 project=$2 lane=$3 stub=$4
  "$quillset" build -q --arch "$lane" --stub "$stub" -o "$work/$name-$lane.exe" "$project" ||
    fail "$lane: cannot build $project"
  out=$work/$name-$lane.out
  "$quillset" test "$work/$name-$lane.exe" > "$out" 2>&1
}

# a program run by [Execute] makes a file that no log knows of
mkdir -p "$work/leaky"
printf 'leaky\r\n' > "$work/leaky/a.txt"
printf 'QSP40\r\n[Global]\r\nApplicationName = Leaky\r\nDefaultDir = C:\\Leaky App\r\n[Files]\r\na.txt, %%MAINDIR%%a.txt\r\n[Execute]\r\ncmd /c echo leak> "%%MAINDIR%%leak.txt"\r\n' \
  > "$work/leaky/default.qsp"

lanes=$(bash "$src/tools/lanes" 2>/dev/null) || lanes=x64
for lane in $lanes; do
  stub=$stub32
  [ "$lane" = x64 ] && stub=$stub64
  run_test Hello "$src/examples/hello/default.qsp" "$lane" "$stub"
  rc=$?
  [ $rc -eq 0 ] || fail "$lane: examples/hello: exit $rc: $(cat "$out")"
  grep -q "^nothing left$" "$out" || fail "$lane: no \"nothing left\": $(cat "$out")"
  grep -q "Hello Quillset\\\\readme.txt" "$out" || fail "$lane: the installed files are not listed"

  run_test Leaky "$work/leaky/default.qsp" "$lane" "$stub"
  rc=$?
  [ $rc -ne 0 ] || fail "$lane: a leaky setup passed: $(cat "$out")"
  grep -q "^Left behind:" "$out" || fail "$lane: no \"Left behind\": $(cat "$out")"
  grep -q 'file    C:\\Leaky App\\leak.txt' "$out" || fail "$lane: the leftover is not named: $(cat "$out")"
  echo "quillset-test: $lane: the example passes, the leaky setup fails naming leak.txt"
done
