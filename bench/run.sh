#!/usr/bin/env bash
# Figures of the setup program. Prints figures; never fails on a number.
#   run.sh sizes     the size of both setup programs (32- and 64-bit), built
#                    on every host whatever it runs
#   run.sh x86|x64   under Wine, in that lane's tree and prefix: the reader's
#                    extraction speed and the install worker's, both building
#                    with that lane's setup program
#   run.sh           sizes, then the x86 lane
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lane-env.sh
. bench/lane-env.sh
jobs=${JOBS:-$(nproc)}

sizes() {
  local bits stub posix size
  for bits in 32 64; do
    bench_lane "$([ $bits = 32 ] && echo x86 || echo x64)"
    stub=$lane_stub posix=$lane_tree/quillset-stub-posix.exe
    [ -f "$stub" ] || { echo "bench: no $stub; build first (make)" >&2; return 1; }
    size=$(stat -c %s "$stub")
    echo "$bits-bit setup program size (stripped, win32 thread model): $size bytes ($((size / 1024)) KiB)"
    [ -f "$posix" ] && echo "  same sources, posix thread model:                       $(stat -c %s "$posix") bytes"
    map=$lane_tree/stub-tree/$(basename "$stub" .exe).map
    if [ -f "$map" ]; then
      python3 bench/size-table.py "$stub" "$map"
    else
      echo "  no link map ($map): no size table"
    fi
  done
  echo "target: at most 153600 bytes (150 KiB) for the 32-bit program, on the way to 131072; an empty NSIS installer is 92685 bytes"

  # the empty installers of this host's makensis, for each architecture
  find_makensis
  if [ -z "$makensis" ]; then
    echo "makensis not installed (apt-get install nsis); no empty NSIS installers measured here"
    return 0
  fi
  local d line='' lane_name
  d=$(mktemp -d)
  for lane_name in x86 x64; do
    bench_lane "$lane_name"
    { nsis_header; printf 'SetCompressor zlib\nOutFile "%s/%s.exe"\nRequestExecutionLevel user\nSection\nSectionEnd\n' "$d" "$lane"; } > "$d/$lane.nsi"
    if "$makensis" -V1 "$d/$lane.nsi" >/dev/null 2>&1 && [ -f "$d/$lane.exe" ]; then
      line+="${line:+, }${nsis_target:-default target (x86)} $(stat -c %s "$d/$lane.exe") bytes"
    else
      line+="${line:+, }${nsis_target:-default target} not built"
    fi
  done
  rm -rf "$d"
  echo "empty NSIS installers from this host's makensis (SetCompressor zlib): $line"
}

under_wine() {
  bench_lane "$1"
  [ -f "$lane_stub" ] || { echo "bench: no $lane_stub; build first (make)" >&2; return 1; }
  # quiet when it builds; the compiler's words when it does not
  local log
  log=$(cmake --build "$lane_tree" -j "$jobs" --target extract_bench worker_bench 2>&1) ||
    { echo "$log"; echo "bench: cannot build the bench programs of $lane_tree" >&2; return 1; }
  work=$(mktemp -d)
  trap 'tools/wine-session stop "$lane_prefix" "$lane_winearch" || true; rm -rf "$work"' EXIT
  tools/wine-session start "$lane_prefix" "$lane_winearch"
  export DISPLAY=${DISPLAY:-$(cat "$lane_prefix.display")}

  echo "extraction under Wine ($lane_bits-bit):"
  tools/wine-run --prefix "$lane_prefix" --arch "$lane_winearch" "$lane_tree/extract_bench.exe" \
    "$(winpath "$work")" "$(winpath "$lane_stub")"

  echo
  echo "install worker under Wine ($lane_bits-bit), [Files] of small files (1-1.5 KiB each):"
  mkdir -p "$work/worker"
  tools/wine-run --prefix "$lane_prefix" --arch "$lane_winearch" "$lane_tree/worker_bench.exe" \
    "$(winpath "$work/worker")" "$(winpath translations/English.ini)"
}

case "${1:-}" in
  sizes) sizes ;;
  x86|x64) under_wine "$1" ;;
  "") sizes; echo; under_wine x86 ;;
  *) echo "usage: run.sh [sizes|x86|x64]" >&2; exit 2 ;;
esac
