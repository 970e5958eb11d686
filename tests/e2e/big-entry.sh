#!/usr/bin/env bash
# A 5 GiB entry (sparse, with a random tail) in a solid LZMA setup file:
# built and verified by the native command, installed under Wine in the x64
# lane and compared byte for byte. Too slow for make check; run it by hand:
#   tests/e2e/big-entry.sh [BUILD_TREE]     (default build/win64)
# Needs about 5 GiB of free disk for the installed copy.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(realpath "${1:-$root/build/win64}")
# the release command: the native tree's is built with the sanitizers
native=$root/build/release/quillset
[ -x "$native" ] || native=$root/build/native/quillset
stub=$tree/quillset-stub64.exe
arch=x64 winearch=win64
[ -f "$stub" ] || { stub=$tree/quillset-stub.exe arch=x86 winearch=win32; }
work=$(mktemp -d "$tree/big-entry.XXXXXX")
trap 'rm -rf "$work"; "$root/tools/wine-session" stop "$tree/wineprefix" $winearch >/dev/null 2>&1 || true' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }

mkdir -p "$work/p"
truncate -s $((5 * 1024 * 1024 * 1024 - 1024 * 1024)) "$work/p/big.bin"
head -c $((1024 * 1024)) /dev/urandom >> "$work/p/big.bin"
target=$(win "$work/Big App")
printf 'QSP40\r\n[Global]\r\nApplicationName = Big App\r\nDefaultDir = %s\r\n[Files]\r\nbig.bin, %%MAINDIR%%big.bin\r\n' \
  "$target" > "$work/p/default.qsp"
start=$(date +%s)
"$native" build --compression lzma --arch $arch --stub "$stub" -o "$work/Setup.exe" "$work/p/default.qsp"
echo "big-entry: built in $(( $(date +%s) - start )) s"
"$native" list "$work/Setup.exe"
start=$(date +%s)
"$native" verify "$work/Setup.exe"
echo "big-entry: verified in $(( $(date +%s) - start )) s"
"$root/tools/wine-session" start "$tree/wineprefix" $winearch
start=$(date +%s)
QS_BIG_SETUP=$(win "$work/Setup.exe") QS_BIG_SOURCE=$(win "$work/p/big.bin") QS_BIG_TARGET=$target \
  "$root/tools/wine-run" --prefix "$tree/wineprefix" --arch $winearch "$tree/tests/e2e/e2e_tests.exe" \
  --gtest_also_run_disabled_tests --gtest_filter='BigEntry.*'
echo "big-entry: installed, compared and uninstalled in $(( $(date +%s) - start )) s ($arch lane)"
