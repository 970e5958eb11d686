#!/usr/bin/env bash
# Prints figures; never fails on a number.
set -euo pipefail
cd "$(dirname "$0")/.."
stub=build/win32/quillset-stub.exe
posix=build/win32/quillset-stub-posix.exe
[ -f "$stub" ] || { echo "bench: build first (make)" >&2; exit 1; }
size() { stat -c %s "$1"; }
echo "setup program size (stripped, win32 thread model): $(size "$stub") bytes ($(( $(size "$stub") / 1024 )) KiB)"
[ -f "$posix" ] && echo "same sources, posix thread model:                 $(size "$posix") bytes"
echo "target: under 131072 bytes; an empty NSIS installer is 92685 bytes"

echo
echo "extraction under Wine:"
cmake --build build/win32 --target extract_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tools/wine-run --prefix build/win32/wineprefix build/win32/extract_bench.exe \
  "Z:$(echo "$work" | tr / '\\')" "Z:$(pwd | tr / '\\')\\build\\win32\\quillset-stub.exe"

echo
echo "install worker under Wine, [Files] of small files (1-1.5 KiB each):"
cmake --build build/win32 --target worker_bench >/dev/null
tools/wine-session start build/win32/wineprefix
export DISPLAY=${DISPLAY:-$(cat build/win32/wineprefix.display)}
mkdir -p "$work/worker"
tools/wine-run --prefix build/win32/wineprefix build/win32/worker_bench.exe \
  "Z:$(echo "$work/worker" | tr / '\\')" "Z:$(pwd | tr / '\\')\\translations\\English.ini"
tools/wine-session stop build/win32/wineprefix
