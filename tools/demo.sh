#!/usr/bin/env bash
# make demo: builds everything and starts the setup program under Wine, with a
# screenshot of what it shows in build/demo/. On a display the window is
# yours to close; without one it runs on a private Xvfb and is closed for you.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh
make all
out=build/demo
mkdir -p "$out"
prefix=build/win32/wineprefix
tools/wine-session start "$prefix"
trap 'tools/wine-session stop "$prefix"' EXIT
export DISPLAY=${DISPLAY:-$(cat "$prefix.display")}

# The bare setup program: the first slice of a split installation.
cp build/win32/quillset-stub.exe "$out/Setup.exe"
tools/wine-run --prefix "$prefix" "$out/Setup.exe" &
pid=$!
sleep 4
import -window root "$out/setup-start.png"
echo "demo: screenshot in $out/setup-start.png"
if [ -f "$prefix.display" ]; then
  # our own display: answer the message box for the user
  WINEPREFIX=$(cd "$prefix" && pwd) wineserver -k || true
fi
wait "$pid" || true
