#!/usr/bin/env bash
# Install time under Wine: our setup program through its wizard (from Next on
# the start page to the finish page) against an NSIS installer (SetCompressor
# zlib) installing the same files silently, for ~100 MB of Wine's DLLs and for
# 2000 small text files; the peak working set of each; and the Wine server
# requests each makes per installed file. Both are timed by install_bench
# inside the same wineserver (NSIS: from CreateProcess to its exit, so its
# figure includes starting the process; ours does not). Times are the median,
# min and max of BENCH_RUNS runs (default 5), the two programs taking turns.
# Requests are counted in one more run of each program under a wineserver
# that writes its request trace (wineserver -d1); see count_run below.
# BENCH_PAYLOADS (default "dlls small") picks the payloads; BENCH_MANAGED=N
# turns Wine's managed windows off; BENCH_COUNT=0 leaves the counts out. Prints figures; never fails on one.
#   install-bench.sh QUILLSET STUB
# The setup program's architecture picks the lane: a 32-bit one runs in
# build/win32's prefix with Wine's 32-bit DLLs as payload and makensis's
# default target as the peer; a 64-bit one in build/win64's (64-bit Wine)
# with the 64-bit DLLs and an NSIS installer built with Target amd64-unicode.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: install-bench.sh QUILLSET STUB" >&2; exit 2; }
[ -x "$1" ] && [ -f "$2" ] || { echo "install-bench: build first (make release win32 win64)" >&2; exit 1; }
quillset=$(realpath "$1")
stub=$(realpath "$2")
cd "$(dirname "$0")/.."
# shellcheck source=bench/lane-env.sh
. bench/lane-env.sh
arch=$(stub_lane "$stub")
[ "$arch" != unknown ] || { echo "install-bench: $2 is not a 32- or 64-bit Windows program" >&2; exit 1; }
bench_lane "$arch"
runs=${BENCH_RUNS:-5}
payloads=${BENCH_PAYLOADS:-dlls small app}
want() { [[ " $payloads " == *" $1 "* ]]; }
prefix=$lane_prefix
build_log=$(cmake --build "$lane_tree" -j "${JOBS:-$(nproc)}" --target install_bench 2>&1) ||
  { echo "$build_log"; echo "install-bench: cannot build install_bench in $lane_tree" >&2; exit 1; }
bench=$lane_tree/install_bench.exe
wine_run() { tools/wine-run --prefix "$prefix" --arch "$lane_winearch" "$@"; }

work=$(mktemp -d)
# installations go to the prefix's own drive, as a user's would
installs="$prefix/drive_c/qs-install-bench"
cleanup() {
  tools/wine-session stop "$prefix" "$lane_winearch" || true
  rm -rf "$work" "$installs"
}
trap cleanup EXIT

nsis_peer

# One project per payload: $work/NAME/{default.qsp,files/,nsis.nsi}, written
# by the payload functions through add_file SOURCE SUBFOLDER.
begin_payload() {
  name=$1
  mkdir -p "$work/$name/files"
  printf 'QSP40\r\n[Global]\r\nApplicationName = Install Bench %s\r\nDefaultDir = C:\\qs-install-bench\\default\r\nAllowChangeInstallDir = TRUE\r\n[Files]\r\n' \
    "$name" > "$work/$name/default.qsp"
  { nsis_header
    printf 'SetCompressor zlib\nName "Install Bench %s"\nOutFile "%s"\nRequestExecutionLevel user\nInstallDir "C:\\qs-install-bench\\default"\nSection\n' \
      "$name" "$work/$name/nsis.exe"; } > "$work/$name/nsis.nsi"
  outpath=-
}
add_file() {  # SOURCE-IN-files/ SUBFOLDER (may be empty)
  local base sub=$2
  base=$(basename "$1")
  printf 'files\\%s, %%MAINDIR%%%s%s\r\n' "$base" "${sub:+$sub\\}" "$base" >> "$work/$name/default.qsp"
  if [ "$outpath" != "$sub" ]; then
    printf 'SetOutPath "$INSTDIR%s"\n' "${sub:+\\$sub}" >> "$work/$name/nsis.nsi"
    outpath=$sub
  fi
  printf 'File "%s"\n' "$(realpath "$1")" >> "$work/$name/nsis.nsi"
}
# Seconds one command takes, to the millisecond.
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null || echo "install-bench: $1 failed on $name" >&2
  t1=$(date +%s.%N)
  python3 -c "print('%.3f' % ($t1 - $t0))"
}
declare -A built
end_payload() {
  printf 'SectionEnd\n' >> "$work/$name/nsis.nsi"
  "$quillset" build -q --stub "$stub" -o "$work/$name/Setup.exe" "$work/$name/default.qsp"
  if [ -n "$makensis" ]; then
    "$makensis" -V1 "$work/$name/nsis.nsi" >/dev/null || echo "install-bench: makensis failed on $name" >&2
  fi
  [ "$name" != one ] || return 0
  # the solid peers, each build timed: ours with --compression lzma, NSIS
  # with its solid LZMA and a 64 MiB dictionary
  built[$name.lzma]=$(timed "$quillset" build -q --compression lzma --stub "$stub" -o "$work/$name/Setup-lzma.exe" \
    "$work/$name/default.qsp")
  built[$name.ours]=$(timed "$quillset" build -q --stub "$stub" -o "$work/$name/Setup.exe" "$work/$name/default.qsp")
  if [ -n "$makensis" ]; then
    sed -e 's/^SetCompressor zlib$/SetCompressor \/SOLID lzma\nSetCompressorDictSize 64/' \
        -e 's|nsis.exe"$|nsis-lzma.exe"|' "$work/$name/nsis.nsi" > "$work/$name/nsis-lzma.nsi"
    built[$name.nsis]=$(timed "$makensis" -V1 "$work/$name/nsis.nsi")
    built[$name.nsislzma]=$(timed "$makensis" -V1 "$work/$name/nsis-lzma.nsi")
  fi
  local p f
  for p in ours lzma nsis nsislzma; do
    case $p in ours) f=Setup.exe ;; lzma) f=Setup-lzma.exe ;; nsis) f=nsis.exe ;; nsislzma) f=nsis-lzma.exe ;; esac
    [ -f "$work/$name/$f" ] || continue
    printf '%-5s %-8s %10s bytes, built in %s s\n' "$name" "$p" "$(stat -c %s "$work/$name/$f")" "${built[$name.$p]:-?}"
  done
}

# the same DLLs as build-bench.sh: the first ~100 MB by name
payload_dlls
dlls=$payload_dir
if ! want dlls; then
  :
elif [ -n "$dlls" ]; then
  [ -z "$payload_note" ] || echo "install-bench: $payload_note"
  begin_payload dlls
  limit=$((100 * 1024 * 1024))
  total=0
  count=0
  while IFS= read -r f; do
    [ "$total" -lt "$limit" ] || break
    cp -p "$f" "$work/dlls/files/"
    add_file "$work/dlls/files/$(basename "$f")" ""
    total=$((total + $(stat -c %s "$f")))
    count=$((count + 1))
  done < <(find "$dlls" -maxdepth 1 -type f -name '*.dll' | LC_ALL=C sort)
  end_payload
  echo "payload dlls:  $count DLLs, $((total / 1048576)) MiB, from $dlls"
else
  echo "install-bench: $payload_note; that payload is skipped"
fi

# 2000 text files of 200 B to 4 KiB in 20 folders, the same every run
if want small; then
begin_payload small
python3 - "$work/small/files" <<'EOF'
import os, random, sys
rng = random.Random(7)
words = "setup install folder file text line program window user value key path".split()
for i in range(1, 2001):
    size = rng.randint(200, 4096)
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 12))) + "\r\n"
        out.append(line)
        n += len(line)
    with open(os.path.join(sys.argv[1], "t%04d.txt" % i), "w", newline="") as f:
        f.write("".join(out)[:size])
EOF
for i in $(seq 1 2000); do
  add_file "$work/small/files/$(printf 't%04d.txt' "$i")" "$(printf 'd%02d' $(( (i - 1) / 100 )))"
done
end_payload
echo "payload small: 2000 text files, $(( $(cat "$work"/small/files/*.txt | wc -c) / 1024 )) KiB, in 20 folders"
fi
# A typical application's files: the other architecture's Wine programs
# and DLLs (to ~40 MB), fonts and PNG images (to ~20 MB), in three folders
if want app; then
  begin_payload app
  total=0
  other=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  [ "$lane_bits" = 64 ] && other=/usr/lib/i386-linux-gnu/wine/i386-windows
  [ -d "$other" ] || other=$dlls
  while IFS= read -r f; do
    [ "$total" -lt $((40 * 1024 * 1024)) ] || break
    cp -p "$f" "$work/app/files/"
    add_file "$work/app/files/$(basename "$f")" bin
    total=$((total + $(stat -c %s "$f")))
  done < <(find "$other" -maxdepth 1 -type f \( -name '*.dll' -o -name '*.exe' \) 2>/dev/null | LC_ALL=C sort -r)
  media=0
  while IFS= read -r f; do
    [ "$media" -lt $((20 * 1024 * 1024)) ] || break
    b=$(basename "$f")
    [ -e "$work/app/files/$b" ] && continue
    cp -p "$f" "$work/app/files/$b"
    case "$b" in *.png) add_file "$work/app/files/$b" images ;; *) add_file "$work/app/files/$b" fonts ;; esac
    media=$((media + $(stat -c %s "$f")))
  done < <(find /usr/share/fonts /usr/share/icons /usr/share/pixmaps -type f \( -name '*.ttf' -o -name '*.otf' -o -name '*.png' \) \
             2>/dev/null | LC_ALL=C sort)
  end_payload
  echo "payload app:   $(grep -c MAINDIR "$work/app/default.qsp") files, $(( (total + media) / 1048576 )) MiB: programs from $other, fonts and PNG images"
fi
# One file: what a run costs whatever its payload, taken off the counts
begin_payload one
cp "$(ls "$work"/small/files/t0001.txt 2>/dev/null || echo translations/English.ini)" "$work/one/files/t0001.txt"
add_file "$work/one/files/t0001.txt" d00
end_payload
command -v makensis >/dev/null || echo "makensis not installed (apt-get install nsis); only our figures follow"
# Whether BCJ x86 would pay: on the payloads' PE files and the rest
# (BENCH_BCJ=0 leaves it out; it compresses each payload twice more)
if [ "${BENCH_BCJ:-1}" != 0 ]; then
  for payload in dlls app; do
    want "$payload" && [ -d "$work/$payload/files" ] || continue
    python3 bench/bcj-measure.py "$payload" $(sed -n 's/^files\\\([^,]*\),.*/\1/p' "$work/$payload/default.qsp" | tr -d '\r' |
      sed "s|^|$work/$payload/files/|")
  done
fi

tools/wine-session start "$prefix" "$lane_winearch"
export DISPLAY=${DISPLAY:-$(cat "$prefix.display")}
# Wine's default, managed windows, whatever make demo left in the prefix.
# Without a window manager on the Xvfb (tools/wine-session starts one where
# it is installed), hiding the wizard (Finish) waits 2 s for one.
wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "${BENCH_MANAGED:-Y}" /f >/dev/null 2>&1 || true
english=$(winpath translations/English.ini)

# figures of one run: "SECONDS PEAK_KIB FILES FINISH_TO_EXIT PID", or "fail"
# Each run installs into a folder of its own, and none is deleted before the
# next run: for some 30 s after files are deleted, ext4 steps over their
# freed inodes one by one when it makes a new file (perf: recently_deleted
# under __ext4_new_inode, in the wineserver), so deleting the last run's
# 2,000 files made the next run of any installer about twice as slow.
# (one_run runs in a subshell: the clock names the folder)
one_run() {  # ours|nsis PAYLOAD [POLL-MS]
  local tag out
  tag=$(date +%s%N)
  local dest="$installs/$1-$2-$tag"
  mkdir -p "$installs"
  local wdest="C:\\qs-install-bench\\$1-$2-$tag"
  if [ "$1" = ours ] || [ "$1" = lzma ]; then
    local setup=Setup.exe
    [ "$1" = lzma ] && setup=Setup-lzma.exe
    out=$(wine_run "$bench" wizard "$(winpath "$work/$2/$setup")" "$wdest" "$english" "${3:-2}" 2>&1) || true
  elif [ "$1" = ourss ] || [ "$1" = lzmas ]; then
    # silent, timed from its start to its exit as NSIS's runs are
    local setup=Setup.exe
    [ "$1" = lzmas ] && setup=Setup-lzma.exe
    out=$(wine_run "$bench" run "\"$(winpath "$work/$2/$setup")\" /S /D=$wdest" 2>&1) || true
  else
    local nsis=nsis.exe
    [ "$1" = nsislzma ] && nsis=nsis-lzma.exe
    out=$(wine_run "$bench" run "\"$(winpath "$work/$2/$nsis")\" /S /D=$wdest" 2>&1) || true
  fi
  out=$(printf '%s\n' "$out" | tr -d '\r')
  local line
  line=$(printf '%s\n' "$out" | grep '^seconds=' | tail -1 || true)
  if [ -z "$line" ] || ! printf '%s\n' "$out" | grep -q '^install_bench: exit code 0$'; then
    printf '%s\n' "$out" | tail -20 >&2
    echo fail
    return
  fi
  local pid
  pid=$(printf '%s\n' "$out" | sed -n 's/^pid=//p' | tail -1)
  # key=value fields; finish_to_exit only from the wizard
  printf '%s %s %s\n' "$line" "$(find "$dest" -type f 2>/dev/null | wc -l)" "${pid:-0}" | awk '{
    for (i = 1; i < NF - 1; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
    print v["seconds"], v["peak_ws_kib"], $(NF - 1), ("finish_to_exit" in v) ? v["finish_to_exit"] : "-", $NF }'
}

# Server requests of one run: the lane's wineserver is replaced by one that
# writes its request trace (wineserver -d1) for this run alone; the requests
# of the installer's own threads (and of any process it starts) are counted
# in it. The wizard is polled every 250 ms, so the poll adds next to nothing.
server() { ( . tools/wine-env.sh; wine_env "$prefix" "$lane_winearch"; "$WINESERVER" "$@" ) ; }
count_run() {  # ours|nsis PAYLOAD -> "REQUESTS", or "fail"
  local trace="$work/trace-$1-$2" r pid spid
  server -k >/dev/null 2>&1 || true
  ( . tools/wine-env.sh; wine_env "$prefix" "$lane_winearch"; exec "$WINESERVER" -f -p -d1 ) \
    </dev/null >/dev/null 2> "$trace" &
  spid=$!
  sleep 1
  # the prefix's services start here, detached from the output that one_run
  # reads to its end, as tools/wine-session does it
  ( . tools/wine-env.sh; wine_env "$prefix" "$lane_winearch"
    "$WINE" rundll32.exe user32.dll,MessageBeep </dev/null >/dev/null 2>&1 ) || true
  r=$(one_run "$1" "$2" 250)
  server -k >/dev/null 2>&1 || true
  kill "$spid" 2>/dev/null || true
  wait "$spid" 2>/dev/null || true
  if [ "$r" = fail ]; then echo fail; return; fi
  pid=${r##* }
  python3 bench/count-requests.py "$trace" "$pid" | sed -n 's/^requests=//p'
  # BENCH_KEEP_TRACES=DIR keeps each trace with its pid, to look into
  if [ -n "${BENCH_KEEP_TRACES:-}" ]; then mv "$trace" "$BENCH_KEEP_TRACES/trace-$1-$2-pid$pid"; else rm -f "$trace"; fi
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
spread() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "min %.3f, max %.3f", a[1], a[NR]}'; }

declare -A secs peak files tail
for payload in $payloads; do
  [ -f "$work/$payload/Setup.exe" ] || continue
  programs=ours
  [ -f "$work/$payload/nsis.exe" ] && programs="ours nsis"
  [ -f "$work/$payload/Setup-lzma.exe" ] && programs+=" lzma"
  [ -f "$work/$payload/nsis-lzma.exe" ] && programs+=" nsislzma"
  # ours silent (/S) too: started and timed as NSIS's silent runs are
  [ "${BENCH_SILENT:-1}" != 0 ] && programs+=" ourss" && [ -f "$work/$payload/Setup-lzma.exe" ] && programs+=" lzmas"
  for p in $programs; do secs[$p]=""; peak[$p]=0; files[$p]=""; tail[$p]=""; done
  for _ in $(seq "$runs"); do
    for p in $programs; do
      r=$(one_run "$p" "$payload")
      if [ "$r" = fail ]; then
        echo "install-bench: $p on $payload failed (see above)"
        continue
      fi
      read -r s k n x _ <<<"$r"
      secs[$p]+=" $s"
      [ "$x" = - ] || tail[$p]+=" $x"
      [ "$k" -gt "${peak[$p]}" ] && peak[$p]=$k
      files[$p]=$n
    done
  done
  for p in $programs; do
    if [ -n "${secs[$p]}" ]; then
      all=${secs[$p]}
      # shellcheck disable=SC2086
      secs[$p]=$(median $all)
      # shellcheck disable=SC2086
      printf '%-5s %-5s %7.3f s (median of %d runs; %s; all:%s)  peak working set %s  %s files in the folder\n' \
        "$payload" "$p" "${secs[$p]}" "$(wc -w <<<"$all")" "$(spread $all)" "$all" \
        "$(awk -v k="${peak[$p]}" 'BEGIN { if (k > 0) printf "%.1f MiB", k / 1024; else print "not readable" }')" \
        "${files[$p]}"
      if [ -n "${tail[$p]}" ]; then
        # shellcheck disable=SC2086
        printf '%-5s %-5s then from Finish (uninstaller written) to exit: %.3f s (median%s)\n' \
          "$payload" "$p" "$(median ${tail[$p]})" \
          "$([ "${BENCH_MANAGED:-Y}" = Y ] && ! command -v openbox >/dev/null && echo "; 2 s of it Wine waiting for a window manager")"
      fi
    fi
  done
  if [ -n "${secs[lzma]:-}" ]; then
    python3 bench/lzma-ratios.py "$payload" "${secs[lzma]}" "${secs[ours]:-0}" "${secs[nsislzma]:-0}" \
      "$(stat -c %s "$work/$payload/Setup-lzma.exe")" "$(stat -c %s "$work/$payload/nsis-lzma.exe" 2>/dev/null || echo 0)" \
      "${built[$payload.lzma]:-0}" "${built[$payload.nsislzma]:-0}"
  fi
  if [ -n "${secs[lzmas]:-}" ]; then
    python3 bench/lzma-ratios.py "$payload/S" "${secs[lzmas]}" "${secs[ourss]:-0}" "${secs[nsislzma]:-0}" 0 0 0 0
  fi
  if [ -n "${secs[nsis]:-}" ] && [ -n "${secs[ours]}" ]; then
    target=0.8
    [ "$payload" = small ] && target=0.7
    python3 -c "
r = ${secs[ours]} / ${secs[nsis]}
print('%-5s ours / nsis = %.2fx (target <= %s: %s)' % ('$payload', r, '$target', 'met' if r <= $target else 'missed'))"
  fi
done

# Cancel pressed at 30 % of the first payload's install through the wizard,
# each setup in turn: Cancel to the question shown, and Yes to the run's end
# (the wizard gone, before the rollback). Unmanaged windows: with managed
# ones and no window manager, closing the box and the wizard waits 2 s for
# one. BENCH_CANCEL=0 leaves it out.
first=${payloads%% *}
if [ "${BENCH_CANCEL:-1}" != 0 ] && [ -f "$work/$first/Setup-lzma.exe" ]; then
  wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  declare -A asked stopped
  for _ in $(seq "$runs"); do
    for p in ours lzma; do
      setup=Setup.exe
      [ $p = lzma ] && setup=Setup-lzma.exe
      rm -rf "$installs"
      out=$(wine_run "$bench" cancel "$(winpath "$work/$first/$setup")" "C:\\qs-install-bench\\cancel" "$english" 30 2>&1 |
        tr -d '\r') || true
      line=$(printf '%s\n' "$out" | grep '^question=' || true)
      if [ -z "$line" ]; then
        printf '%s\n' "$out" | tail -5 >&2
        echo "install-bench: cancel of $p on $first failed"
        continue
      fi
      read -r q st <<<"$(printf '%s\n' "$line" | sed 's/question=\([^ ]*\) stopped=\(.*\)/\1 \2/')"
      asked[$p]+=" $q"
      stopped[$p]+=" $st"
    done
  done
  for p in ours lzma; do
    [ -n "${asked[$p]:-}" ] || continue
    # shellcheck disable=SC2086
    printf '%-5s %-5s cancel: question shown after %.1f ms (median; %s ms), run ended %.1f ms after Yes (median; %s ms); goal <= 100 ms\n' \
      "$first" "$p" "$(python3 -c "print($(median ${asked[$p]}) * 1000)")" \
      "$(python3 -c "v = sorted([$(echo ${asked[$p]} | tr ' ' ',')]); print('min %.1f, max %.1f' % (v[0] * 1000, v[-1] * 1000))")" \
      "$(python3 -c "print($(median ${stopped[$p]}) * 1000)")" \
      "$(python3 -c "v = sorted([$(echo ${stopped[$p]} | tr ' ' ',')]); print('min %.1f, max %.1f' % (v[0] * 1000, v[-1] * 1000))")"
  done
  wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "${BENCH_MANAGED:-Y}" /f >/dev/null 2>&1 || true
fi

[ "${BENCH_COUNT:-1}" != 0 ] || exit 0  # BENCH_COUNT=0: times only

# Wine server requests per installed file: (requests of the payload's run -
# requests of the one-file run) / (files - 1), so that starting, the wizard's
# pages and writing the uninstaller are left out; ours and NSIS's alike.
echo "server requests per installed file: counted in wineserver's own request trace (-d1), the installer's threads only; (run of the payload - run of one file) / (files - 1)"
declare -A base
for p in ours nsis; do
  [ -f "$work/one/$([ $p = ours ] && echo Setup.exe || echo nsis.exe)" ] || continue
  base[$p]=$(count_run "$p" one)
done
for payload in $payloads; do
  [ -f "$work/$payload/Setup.exe" ] || continue
  n=$(grep -c 'MAINDIR' "$work/$payload/default.qsp")
  line="$payload ($n files):"
  for p in ours nsis; do
    [ -n "${base[$p]:-}" ] && [ "${base[$p]}" != fail ] || continue
    r=$(count_run "$p" "$payload")
    if [ "$r" = fail ]; then
      line+=" $p failed;"
      continue
    fi
    line+=$(python3 -c "print(' %s %.1f (%d requests, one-file run %d);' % ('$p', ($r - ${base[$p]}) / ($n - 1), $r, ${base[$p]}))")
  done
  [ "$payload" = small ] && line+=" target for ours: at most 8"
  echo "$line"
done
