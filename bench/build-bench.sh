#!/usr/bin/env bash
# Figures for quillset build: time, size and peak memory on ~100 MB of real
# Windows binaries, next to makensis (SetCompressor zlib) on the same files,
# and peak memory on a 1 GiB payload. Prints figures; never fails on one.
#   build-bench.sh QUILLSET STUB
# The setup program's architecture picks the rest: a 32-bit one is packed
# with Wine's 32-bit DLLs and compared with makensis's default target, a
# 64-bit one with the 64-bit DLLs and makensis with Target amd64-unicode.
# BENCH_BIG=0 leaves out the 1 GiB payload (it measures the command alone,
# whatever the setup program).
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: build-bench.sh QUILLSET STUB" >&2; exit 2; }
[ -x "$1" ] && [ -f "$2" ] || { echo "build-bench: build first (make release win32 win64)" >&2; exit 1; }
quillset=$(realpath "$1")
stub=$(realpath "$2")
cd "$(dirname "$0")/.."
# shellcheck source=bench/lane-env.sh
. bench/lane-env.sh
arch=$(stub_lane "$stub")
[ "$arch" != unknown ] || { echo "build-bench: $2 is not a 32- or 64-bit Windows program" >&2; exit 1; }
bench_lane "$arch"
payload_dlls
[ -z "$payload_note" ] || echo "build-bench: $payload_note"
dlls=$payload_dir
[ -n "$dlls" ] || { echo "build-bench: no payload; skipped" >&2; exit 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# seconds, peak RSS (KiB) and status of a command
measure() {
  python3 - "$@" <<'EOF'
import resource, subprocess, sys, time
t = time.monotonic()
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
print("%.2f %d %d" % (time.monotonic() - t, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, r.returncode))
EOF
}

# the first ~100 MB, by name, of the DLLs that Wine installs
limit=$((100 * 1024 * 1024))
total=0
mkdir -p "$work/payload"
printf 'QSP40\n[Global]\nApplicationName = Bench\n[Files]\n' > "$work/payload/bench.qsp"
nsi="$work/bench.nsi"
{ nsis_header; printf 'SetCompressor zlib\nOutFile "%s"\nRequestExecutionLevel user\nInstallDir "$PROGRAMFILES\\Bench"\nSection\nSetOutPath $INSTDIR\n' "$work/nsis.exe"; } > "$nsi"
count=0
while IFS= read -r f; do
  [ "$total" -lt "$limit" ] || break
  name=$(basename "$f")
  cp -p "$f" "$work/payload/$name"
  total=$((total + $(stat -c %s "$f")))
  count=$((count + 1))
  printf '%s, %%MAINDIR%%%s\n' "$name" "$name" >> "$work/payload/bench.qsp"
  printf 'File "%s"\n' "$work/payload/$name" >> "$nsi"
done < <(find "$dlls" -maxdepth 1 -type f -name '*.dll' | LC_ALL=C sort)
printf 'SectionEnd\n' >> "$nsi"
echo "payload: $count DLLs, $total bytes ($((total / 1048576)) MiB), the first by name from $dlls"
peer="makensis's default target"
[ -z "$nsis_target" ] || peer="Target $nsis_target"
echo "setup program: $lane_bits-bit, $stub; NSIS peer: $peer"
echo "processors: $(nproc)"

read -r t_q rss_q rc_q < <(measure "$quillset" build -q --stub "$stub" -o "$work/quillset.exe" "$work/payload/bench.qsp")
read -r t_1 rss_1 rc_1 < <(measure "$quillset" build -q -j 1 --stub "$stub" -o "$work/quillset-1.exe" "$work/payload/bench.qsp")
size_q=$(stat -c %s "$work/quillset.exe")
same=no
cmp -s "$work/quillset.exe" "$work/quillset-1.exe" && same=yes
printf 'quillset build, all processors: %6.2f s  %10d bytes  peak RSS %d KiB (status %d)\n' "$t_q" "$size_q" "$rss_q" "$rc_q"
printf 'quillset build, one thread:     %6.2f s  byte-identical to the parallel build: %s  peak RSS %d KiB\n' "$t_1" "$same" "$rss_1"

# zlib level 6 alone on one core, for scale
python3 - "$work/payload" <<'EOF'
import os, sys, time, zlib
d = sys.argv[1]
t = time.monotonic(); out = 0
for n in sorted(os.listdir(d)):
    if n.endswith('.dll'):
        out += len(zlib.compress(open(os.path.join(d, n), 'rb').read(), 6))
print("zlib level 6 alone, one core:   %6.2f s  %10d bytes" % (time.monotonic() - t, out))
EOF

nsis_peer
if [ -n "$makensis" ]; then
  read -r t_n rss_n rc_n < <(measure "$makensis" -V1 "$nsi")
  if [ "$rc_n" = 0 ]; then
    size_n=$(stat -c %s "$work/nsis.exe")
    printf 'makensis (SetCompressor zlib):  %6.2f s  %10d bytes  peak RSS %d KiB\n' "$t_n" "$size_n" "$rss_n"
    python3 -c "print('quillset / makensis: time %.2fx (target <= 0.33), size %.3fx (target <= 1.01)' % ($t_q / $t_n, $size_q / $size_n))"
  else
    echo "makensis failed (status $rc_n); no comparison"
  fi
else
  command -v makensis >/dev/null || echo "makensis not installed (apt-get install nsis); no comparison"
fi

[ "${BENCH_BIG:-1}" != 0 ] || exit 0

# peak memory on a 1 GiB payload: eight 128 MiB files made of the DLLs
printf 'QSP40\n[Global]\nApplicationName = Big\n[Files]\n' > "$work/big.qsp"
for i in 1 2 3 4 5 6 7 8; do
  f="$work/big$i.bin"
  while [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" -lt $((128 * 1024 * 1024)) ]; do
    cat "$work"/payload/*.dll >> "$f"
  done
  truncate -s $((128 * 1024 * 1024)) "$f"
  printf 'big%d.bin, %%MAINDIR%%big%d.bin\n' "$i" "$i" >> "$work/big.qsp"
done
rm -f "$work"/quillset*.exe "$work/nsis.exe"
read -r t_b rss_b rc_b < <(measure "$quillset" build -q --stub "$stub" -o "$work/big.exe" "$work/big.qsp")
printf 'quillset build, 1 GiB payload:  %6.2f s  %10d bytes  peak RSS %d KiB (target < 65536; status %d)\n' \
  "$t_b" "$(stat -c %s "$work/big.exe" 2>/dev/null || echo 0)" "$rss_b" "$rc_b"
