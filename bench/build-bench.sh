#!/usr/bin/env bash
# Figures for quillset build: time, size and peak memory on ~100 MB of real
# Windows binaries, next to makensis (SetCompressor zlib) on the same files,
# and peak memory on a 1 GiB payload; then --compression lzma against
# makensis /SOLID lzma at the same dictionary on three payloads (below).
# Prints figures; never fails on one.
#   build-bench.sh QUILLSET STUB
# The setup program's architecture picks the rest: a 32-bit one is packed
# with Wine's 32-bit DLLs and compared with makensis's default target, a
# 64-bit one with the 64-bit DLLs and makensis with Target amd64-unicode.
# BENCH_BIG=0 leaves out the 1 GiB payload (it measures the command alone,
# whatever the setup program). BENCH_LZMA=0 leaves out the LZMA figures;
# BENCH_LZMA_PAYLOADS picks some of "app P1 big" (the default, all three);
# BENCH_RUNS (default 5), BENCH_P1_RUNS (3) and BENCH_BIG_RUNS (1) are their
# runs (the 1 GiB one without the one-thread build: it takes many minutes).
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

# seconds, peak RSS (KiB), status and processor seconds (user + system,
# all threads) of a command
measure() {
  python3 - "$@" <<'EOF'
import resource, subprocess, sys, time
t = time.monotonic()
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.2f %d %d %.2f" % (time.monotonic() - t, u.ru_maxrss, r.returncode, u.ru_utime + u.ru_stime))
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

read -r t_q rss_q rc_q _ < <(measure "$quillset" build -q --stub "$stub" -o "$work/quillset.exe" "$work/payload/bench.qsp")
read -r t_1 rss_1 rc_1 _ < <(measure "$quillset" build -q -j 1 --stub "$stub" -o "$work/quillset-1.exe" "$work/payload/bench.qsp")
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
  read -r t_n rss_n rc_n _ < <(measure "$makensis" -V1 "$nsi")
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

# --compression lzma against makensis /SOLID lzma with the dictionary ours
# took (read back from quillset list): time and peak memory, the median of
# the runs with their spread, ours and makensis taking turns; ours also with
# -j 1 (one thread, as it was before the match finder's thread).
#   lzma_case NAME QSP RUNS FILE...
lzma_case() {
  local name=$1 qsp=$2 runs=$3
  shift 3
  local out="$work/$name-lzma.exe" nsis_out="$work/$name-nsis-lzma.exe" dict='' i
  local nsi="$work/$name-lzma.nsi"
  local -a t2=() m2=() c2=() t1=() m1=() c1=() tn=() mn=() cn=()
  local t m rc c
  for i in $(seq "$runs"); do
    read -r t m rc c < <(measure "$quillset" build -q --compression lzma --stub "$stub" -o "$out" "$qsp")
    [ "$rc" = 0 ] || { echo "$name: quillset build failed (status $rc)"; return 0; }
    t2+=("$t") m2+=("$m") c2+=("$c")
    if [ -z "$dict" ]; then
      # makensis takes the dictionary the first build took
      dict=$("$quillset" list "$out" | sed -n 's/.*dictionary \([0-9]*\) bytes.*/\1/p')
      { nsis_header
        printf 'SetCompressor /SOLID lzma\nSetCompressorDictSize %d\nOutFile "%s"\nRequestExecutionLevel user\n' \
          $((dict / 1048576)) "$nsis_out"
        printf 'InstallDir "$PROGRAMFILES\\Bench"\nSection\nSetOutPath $INSTDIR\n'
        printf 'File "%s"\n' "$@"
        printf 'SectionEnd\n'; } > "$nsi"
    fi
    if [ "$name" != big ]; then
      read -r t m _ c < <(measure "$quillset" build -q -j 1 --compression lzma --stub "$stub" -o "$out.1" "$qsp")
      t1+=("$t") m1+=("$m") c1+=("$c")
    fi
    if [ -n "$makensis" ]; then
      read -r t m rc c < <(measure "$makensis" -V1 "$nsi")
      [ "$rc" = 0 ] && tn+=("$t") mn+=("$m") cn+=("$c")
    fi
  done
  local same="not built (slow)"
  [ -f "$out.1" ] && { same=no; cmp -s "$out" "$out.1" && same=yes; }
  python3 - "$name" "$dict" "$(stat -c %s "$out")" "$(stat -c %s "$nsis_out" 2>/dev/null || echo 0)" "$same" \
    "${t2[*]}" "${m2[*]}" "${c2[*]:-}" "${t1[*]:-}" "${m1[*]:-}" "${c1[*]:-}" "${tn[*]:-}" "${mn[*]:-}" "${cn[*]:-}" <<'PY'
import statistics, sys
name, dict_, size, nsize, same = sys.argv[1:6]
def figs(a): return [float(x) for x in a.split()]
t2, m2, c2, t1, m1, c1, tn, mn, cn = (figs(a) for a in sys.argv[6:15])
def line(who, t, m, c, size=None):
    if not t: return
    s = "  %-26s %8.2f s (median of %d; min %.2f, max %.2f), processor %.2f s, peak RSS %6.1f MiB (max %.1f)" % (
        who, statistics.median(t), len(t), min(t), max(t), statistics.median(c), statistics.median(m) / 1024,
        max(m) / 1024)
    print(s + ("  %d bytes" % size if size else ""))
print("%s, --compression lzma, dictionary %d MiB (makensis SetCompressorDictSize the same):" % (name, int(dict_) // 1048576))
line("quillset (2 threads)", t2, m2, c2, int(size))
line("quillset -j 1 (one thread)", t1, m1, c1)
line("makensis /SOLID lzma", tn, mn, cn, int(nsize))
print("  one thread and two write the same bytes: %s" % same)
if tn:
    r = statistics.median(t2) / statistics.median(tn)
    print("  %s: time %.2fx makensis (target <= 1.0: %s%s)" % (name, r, "met" if r <= 1.0 else "missed",
          "; one thread %.2fx" % (statistics.median(t1) / statistics.median(tn)) if t1 else ""))
    r = statistics.median(m2) / statistics.median(mn)
    print("  %s: peak memory %.2fx makensis (target <= 1.25: %s)" % (name, r, "met" if r <= 1.25 else "missed"))
    print("  %s: size %.3fx makensis%s" % (name, int(size) / int(nsize), " (target <= 1.01)" if name == "P1" else ""))
PY
  rm -f "$out" "$out.1" "$nsis_out"
}

lzma_runs=${BENCH_RUNS:-5}
lzma_payloads=" ${BENCH_LZMA_PAYLOADS:-app P1 big} "
if [ "${BENCH_LZMA:-1}" != 0 ] && [ "$lzma_payloads" != " big " ]; then
  echo
  echo "LZMA against makensis (processors: $(nproc), load average now: $(cut -d' ' -f1-3 /proc/loadavg);"
  echo "other work on this machine moves these times, up to 3x from run to run: compare within one run)"
  [ -n "$makensis" ] || echo "no makensis: only our figures"
  # a 9 MiB application: the first programs by name of the other
  # architecture's Wine programs (a real program's files, not the DLLs above)
  other=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  [ "$lane_bits" = 64 ] && other=/usr/lib/i386-linux-gnu/wine/i386-windows
  [ -d "$other" ] || other=$dlls
  mkdir -p "$work/app"
  printf 'QSP40\n[Global]\nApplicationName = App\n[Files]\n' > "$work/app/app.qsp"
  app_files=()
  app_total=0
  while IFS= read -r f; do
    [ "$app_total" -lt $((9 * 1024 * 1024)) ] || break
    cp -p "$f" "$work/app/"
    app_files+=("$work/app/$(basename "$f")")
    printf '%s, %%MAINDIR%%%s\n' "$(basename "$f")" "$(basename "$f")" >> "$work/app/app.qsp"
    app_total=$((app_total + $(stat -c %s "$f")))
  done < <(find "$other" -maxdepth 1 -type f -name '*.exe' | LC_ALL=C sort)
  echo "payload app: ${#app_files[@]} programs, $app_total bytes, from $other"
  [[ $lzma_payloads == *" app "* ]] && lzma_case app "$work/app/app.qsp" "$lzma_runs" "${app_files[@]}"
  p1_files=()
  while IFS= read -r f; do p1_files+=("$f"); done < <(sed -n 's/^File "\(.*\)"$/\1/p' "$nsi")
  echo "payload P1: the $count DLLs above, $total bytes"
  [[ $lzma_payloads == *" P1 "* ]] && lzma_case P1 "$work/payload/bench.qsp" "${BENCH_P1_RUNS:-3}" "${p1_files[@]}"
fi

[ "${BENCH_BIG:-1}" != 0 ] || exit 0

# A 1 GiB file: the DLLs over and over, then a random tail of 128 MiB
# (BENCH_BIG_RANDOM_MIB) that no dictionary helps with
big_random=${BENCH_BIG_RANDOM_MIB:-128}
f="$work/big.bin"
while [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" -lt $(((1024 - big_random) * 1024 * 1024)) ]; do
  cat "$work"/payload/*.dll >> "$f"
done
truncate -s $(((1024 - big_random) * 1024 * 1024)) "$f"
head -c $((big_random * 1024 * 1024)) /dev/urandom >> "$f"
printf 'QSP40\n[Global]\nApplicationName = Big\n[Files]\nbig.bin, %%MAINDIR%%big.bin\n' > "$work/big.qsp"
rm -f "$work"/quillset*.exe "$work/nsis.exe"
read -r t_b rss_b rc_b _ < <(measure "$quillset" build -q --stub "$stub" -o "$work/big.exe" "$work/big.qsp")
printf 'quillset build, 1 GiB payload:  %6.2f s  %10d bytes  peak RSS %d KiB (target < 65536; status %d)\n' \
  "$t_b" "$(stat -c %s "$work/big.exe" 2>/dev/null || echo 0)" "$rss_b" "$rc_b"
rm -f "$work/big.exe"
if [ "${BENCH_LZMA:-1}" != 0 ] && [[ $lzma_payloads == *" big "* ]]; then
  echo "payload big: one 1 GiB file, the DLLs over and over and a random tail of $big_random MiB"
  lzma_case big "$work/big.qsp" "${BENCH_BIG_RUNS:-1}" "$f"
fi
