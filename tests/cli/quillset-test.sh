#!/usr/bin/env bash
# quillset test on real setup files, in every lane this host runs: the
# example project, for one user as a split set with an Add/Remove Programs
# entry, installs into the user's programs folder and uninstalls with nothing
# left and the machine's keys unchanged; a setup that leaves files on the
# desktop, in Documents and in C:\windows and a key under
# HKEY_LOCAL_MACHINE\Software fails and names them, prints its Cyrillic key
# as it is and names the entry's name that differs from the script; a setup
# that never ends is stopped at --timeout. No run leaves anything in TMPDIR.
# Without Wine the command says what to install and exits 2.
#   quillset-test.sh QUILLSET SOURCE_DIR STUB32 STUB64 WORKDIR
set -uo pipefail
quillset=$1 src=$2 stub32=$3 stub64=$4 work=$5
fail() { echo "quillset-test: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work"

# Builds project for lane (build options after the stub) and runs quillset
# test on it, with TEST_OPTIONS; its output in $out. Nothing may stay in
# TMPDIR.
run_test() {
  local name=$1 project=$2 lane=$3 stub=$4
  shift 4
  mkdir -p "$work/$name-$lane" "$work/tmp"
  "$quillset" build -q --arch "$lane" --stub "$stub" -o "$work/$name-$lane/Setup.exe" "$@" "$project" ||
    fail "$lane: cannot build $project"
  out=$work/$name-$lane.out
  TMPDIR=$work/tmp "$quillset" test ${TEST_OPTIONS:-} "$work/$name-$lane/Setup.exe" > "$out" 2>&1
  local rc=$?
  [ -z "$(ls -A "$work/tmp")" ] || fail "$lane: $name left in TMPDIR: $(ls -A "$work/tmp")"
  return $rc
}

# the example for one user with an Add/Remove Programs entry, its publisher
# not ASCII
mkdir -p "$work/hello"
cp -r "$src/examples/hello/." "$work/hello/"
sed -i 's/^ApplicationName = .*/&\nAppId = HelloQuillset\r\nVersion = 1.2\r\nPublisher = Müller \& Söhne\r\nScope = user\r/' \
  "$work/hello/default.qsp"

# programs run by [Execute] make files that no log knows of, beside the
# program, on the desktop, in Documents and in the Windows folder, add to
# win.ini and, though it is for one user, a key of the machine; its name is
# longer than an Add/Remove Programs entry keeps
mkdir -p "$work/leaky"
printf 'leaky\r\n' > "$work/leaky/a.txt"
long=$(printf 'Утечка%.0s' $(seq 50))
{
  printf 'QSP40\r\n[Global]\r\nApplicationName = %s\r\nDefaultDir = C:\\Leaky App\r\nAppId = Leaky\r\nScope = user\r\n' "$long"
  printf '[Files]\r\na.txt, %%MAINDIR%%a.txt\r\n[Shortcuts]\r\n%%DESKTOP%%Leaky.lnk,%%MAINDIR%%a.txt,,%%MAINDIR%%,Leaky,,0\r\n'
  printf '[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/Утечка\r\n[SysRegString]\r\nHKEY_CURRENT_USER/Software/Утечка/Ключ=значение\r\n'
  printf '[Execute]\r\ncmd /c echo leak> "%%MAINDIR%%leak.txt"\r\n'
  for place in DESKTOP MYDOCUMENTS WINDOWS; do printf 'cmd /c echo leak> "%%%s%%leak-%s.txt"\r\n' $place $place; done
  printf 'cmd /c echo leak>> "%%WINDOWS%%win.ini"\r\n'
  printf 'reg add HKLM\\Software\\Leaky /v Leak /d yes /f\r\n'
} > "$work/leaky/default.qsp"

# a program run by [Execute] that never ends
mkdir -p "$work/hang"
printf ':again\r\ngoto again\r\n' > "$work/hang/loop.cmd"
printf 'QSP40\r\n[Global]\r\nApplicationName = Hang\r\nDefaultDir = C:\\Hang\r\n[Files]\r\nloop.cmd, %%MAINDIR%%loop.cmd\r\n[Execute]\r\ncmd /c "%%MAINDIR%%loop.cmd"\r\n' \
  > "$work/hang/default.qsp"

"$quillset" build -q --stub "$stub32" -o "$work/nowine.exe" "$work/hang/default.qsp" || fail "cannot build the hang project"
PATH=/nonexistent QUILLSET_WINE_DIR=/nonexistent "$quillset" test "$work/nowine.exe" > "$work/nowine.out" 2>&1
rc=$?
[ $rc -eq 2 ] || fail "without Wine: exit $rc, not 2: $(cat "$work/nowine.out")"
grep -q "apt-get install wine" "$work/nowine.out" || fail "without Wine it does not say what to install: $(cat "$work/nowine.out")"
"$quillset" test --timeout 0 "$work/nowine.exe" > /dev/null 2>&1
rc=$?
[ $rc -eq 2 ] || fail "--timeout 0: exit $rc, not 2"
"$quillset" test "$stub32" > "$work/stub.out" 2>&1
rc=$?
[ $rc -eq 1 ] && grep -q "no project script stored" "$work/stub.out" || fail "a bare setup program: exit $rc: $(cat "$work/stub.out")"

lanes=$(bash "$src/tools/lanes" 2>/dev/null) || lanes=x64
for lane in $lanes; do
  stub=$stub32
  [ "$lane" = x64 ] && stub=$stub64
  run_test Hello "$work/hello/default.qsp" "$lane" "$stub" --split 2000
  rc=$?
  [ -f "$work/Hello-$lane/Setup.002" ] || fail "$lane: the example was not split into slices"
  [ $rc -eq 0 ] || fail "$lane: examples/hello, split: exit $rc: $(cat "$out")"
  grep -q "^nothing left$" "$out" || fail "$lane: no \"nothing left\": $(cat "$out")"
  grep -q '^  file    C:\\users\\[^\\]*\\AppData\\Local\\Programs\\Hello Quillset\\readme.txt$' "$out" ||
    fail "$lane: the files are not listed in the user's programs folder: $(cat "$out")"
  grep -q '^Add/Remove Programs: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\HelloQuillset$' "$out" ||
    fail "$lane: the entry is not the user's: $(cat "$out")"
  grep -q '^HKEY_LOCAL_MACHINE\\Software: unchanged' "$out" || fail "$lane: the machine's keys: $(cat "$out")"
  grep -q "Uninstall\\\\HelloQuillset  \"Publisher\"=\"Müller & Söhne\"" "$out" || fail "$lane: the entry's publisher: $(cat "$out")"
  grep -q "are the script's" "$out" || fail "$lane: the entry is not the script's: $(cat "$out")"

  run_test Leaky "$work/leaky/default.qsp" "$lane" "$stub"
  rc=$?
  [ $rc -ne 0 ] || fail "$lane: a leaky setup passed: $(cat "$out")"
  left=$(sed -n '/^Left behind:/,$p' "$out")
  for file in 'C:\Leaky App\leak.txt' 'C:\users\[^\]*\Desktop\leak-DESKTOP.txt' \
    'C:\users\[^\]*\Documents\leak-MYDOCUMENTS.txt' 'C:\windows\leak-WINDOWS.txt'; do
    grep -q "^  file    ${file//\\/\\\\}$" <<< "$left" || fail "$lane: $file is not named as left: $(cat "$out")"
  done
  grep -q '^  changed C:\\windows\\win.ini$' <<< "$left" || fail "$lane: the changed win.ini is not named: $(cat "$out")"
  grep -q '^  file    C:\\users\\[^\\]*\\Desktop\\Leaky.lnk$' "$out" || fail "$lane: the desktop shortcut is not listed"
  grep -q '^  key     HKEY_CURRENT_USER\\Software\\Утечка$' "$out" || fail "$lane: the Cyrillic key is not shown as it is"
  sed -n '/^HKEY_LOCAL_MACHINE\\Software changed, which a per-user installation/,/^[^ ]/p' "$out" |
    grep -q '^  + key     HKEY_LOCAL_MACHINE\\Software\\Leaky$' || fail "$lane: the machine's new key is not named: $(cat "$out")"
  ! grep -q '\\x4' "$out" || fail "$lane: names still escaped: $(cat "$out")"
  grep -q "^  DisplayName is \"$(printf 'Утечка%.0s' $(seq 42))Уте\"; the script says ApplicationName = $long$" "$out" ||
    fail "$lane: the entry's shortened name is not named: $(cat "$out")"

  TEST_OPTIONS="--timeout 10" run_test Hang "$work/hang/default.qsp" "$lane" "$stub"
  rc=$?
  [ $rc -eq 1 ] || fail "$lane: a setup that never ends: exit $rc: $(cat "$out")"
  grep -q "the install (Setup.exe /S) did not end within 10 seconds" "$out" || fail "$lane: where it hung: $(cat "$out")"
  grep -q 'Program started: cmd /c "C:\\Hang\\loop.cmd"' "$out" || fail "$lane: the log's end is not shown: $(cat "$out")"
  echo "quillset-test: $lane: the split example passes for one user; the leaky setup fails naming its files and" \
    "the machine's key; the endless one is stopped"
done
