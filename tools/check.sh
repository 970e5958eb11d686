#!/usr/bin/env bash
# make check: the native tests, then the Wine tests once per lane the host
# runs. Both setup programs are always built, so their checks as files (PE
# headers, imports, size, manifest) run on every host. Every part runs; the
# exit status is 1 when any part failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

lanes=$(bash tools/lanes 2> build/lanes.txt)
status=$?
cat build/lanes.txt >&2
[ $status -eq 0 ] || exit 1

rc=0
# Includes point down the layers and form no cycle; the self-test shows the
# check can fail.
{ tools/check-layers --self-test && tools/check-layers; } || rc=1
# Message boxes only in the front ends, so that a silent run shows none; the
# self-test shows this check can fail too.
{ tools/check-frontends --self-test && tools/check-frontends; } || rc=1
cmake --build build/native -j "$jobs" || exit 1
for tree in win32:x86 win64:x64; do
  dir=build/${tree%%:*} lane=${tree##*:}
  if [[ " $lanes " == *" $lane "* ]]; then
    cmake --build "$dir" -j "$jobs" || exit 1
  else
    cmake --build "$dir" -j "$jobs" --target stub_tree || exit 1
  fi
done

ctest --test-dir build/native --output-on-failure -j "$jobs" || rc=1
# The lanes run side by side: each has its own prefix, wineserver and Xvfb,
# and their tests spend most of their time waiting on windows.
pids=()
trap 'kill "${pids[@]}" 2>/dev/null' INT TERM
for lane in $lanes; do
  dir=build/win32
  [ "$lane" = x64 ] && dir=build/win64
  echo "make check: $lane lane ($dir) started; its output follows when it ends"
  ctest --test-dir "$dir" --output-on-failure > "$dir/check.log" 2>&1 &
  pids+=($!)
done
i=0
for lane in $lanes; do
  dir=build/win32
  [ "$lane" = x64 ] && dir=build/win64
  lane_rc=0
  wait "${pids[$i]}" || lane_rc=1
  i=$((i + 1))
  echo "make check: $lane lane ($dir)"
  cat "$dir/check.log"
  [ $lane_rc -eq 0 ] || { rc=1; echo "make check: the $lane lane FAILED"; }
done

echo "make check: lanes run: $lanes"
[ -s build/lanes.txt ] && cat build/lanes.txt
exit $rc
