#!/usr/bin/env bash
# make bench: figures for both setup programs, and the Wine figures once per
# lane the host runs (tools/lanes; QS_LANES=x86,x64 forces a choice).
#   - sizes of both setup programs, whatever the lanes (both are built on
#     every host);
#   - quillset build against makensis once per setup program, whatever the
#     lanes: it is a native command and needs no Wine (the 1 GiB peak-memory
#     figure and the LZMA figures against makensis only once, as they
#     measure the command alone);
#   - per lane, with that lane's tree, prefix and setup program: extraction,
#     install worker, install time against NSIS.
# Prints figures; never fails on a number. Every part runs; the exit status
# is 1 when a part could not run at all.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=bench/lane-env.sh
. bench/lane-env.sh
quillset=build/release/quillset

# tools/lanes speaks for make check; its lines are reworded for this target
reword() {
  sed -e 's/^make check: /make bench: /' \
      -e "s/; the 32-bit setup program's static checks.*/; the 32-bit setup program is still measured as a file and with quillset build/"
}
lanes_note=$(mktemp)
lanes=$(bash tools/lanes 2> "$lanes_note")
status=$?
notes=$(reword < "$lanes_note")
rm -f "$lanes_note"
[ -z "$notes" ] || echo "$notes"
[ $status -eq 0 ] || exit 1
echo "make bench: lanes: $lanes"

# every Wine session of a lane is stopped by its script; this is for an
# interrupted run
used=()
cleanup() {
  local l
  for l in "${used[@]}"; do
    bench_lane "$l"
    [ -d "$lane_prefix" ] && tools/wine-session stop "$lane_prefix" "$lane_winearch" >/dev/null 2>&1
  done
  return 0
}
trap cleanup EXIT

rc=0
failed=()
part() {  # NAME COMMAND...
  local name=$1
  shift
  if ! "$@"; then
    echo "make bench: $name did not complete (see above)"
    failed+=("$name")
    rc=1
  fi
}

echo
echo "== setup program sizes: build/win32 (32-bit) and build/win64 (64-bit) =="
part sizes bash bench/run.sh sizes

for l in x86 x64; do
  bench_lane "$l"
  echo
  echo "== quillset build, $lane_bits-bit setup program ($lane_stub), native =="
  big=0
  [ "$l" = x64 ] && big=1
  part "build-bench $l" env BENCH_BIG=$big BENCH_LZMA=$big bash bench/build-bench.sh "$quillset" "$lane_stub"
done

for l in $lanes; do
  bench_lane "$l"
  used+=("$l")
  echo
  echo "== $l lane: $lane_tree, $lane_bits-bit setup program, $lane_winearch Wine prefix =="
  part "run $l" bash bench/run.sh "$l"
  echo
  part "install-bench $l" bash bench/install-bench.sh "$quillset" "$lane_stub"
done

echo
echo "make bench: lanes run: $lanes"
[ -z "$notes" ] || echo "$notes"
[ ${#failed[@]} -eq 0 ] || echo "make bench: parts that did not complete: ${failed[*]}"
exit $rc
