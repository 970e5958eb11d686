# shellcheck shell=bash
# Shared by the bench scripts (sourced, from the top of the source tree).
#
#   bench_lane x86|x64   sets what one lane uses:
#     lane_tree       build/win32 or build/win64 (its bench programs)
#     lane_prefix     that tree's Wine prefix
#     lane_winearch   win32 or win64
#     lane_stub       the lane's setup program
#     lane_bits       32 or 64
#     nsis_target     makensis's Target for the peer ("" keeps its default)
#   stub_lane FILE       x86 or x64 from a setup program's PE header
#   payload_dlls         sets payload_dir to the folder of Wine's DLLs of
#                        $lane_bits, and payload_note to a line when it had
#                        to take the other architecture's (or none at all)
#   find_makensis        sets makensis (may install Debian's nsis as root)
#   nsis_peer            find_makensis, then empties makensis with a line on
#                        stdout when it rejects $nsis_target
#   nsis_header          the .nsi's first lines for $nsis_target
#   winpath FILE         the Windows spelling of a file, through Wine's Z:

bench_lane() {
  lane=$1
  case "$lane" in
    x86) lane_tree=build/win32 lane_winearch=win32 lane_stub=build/win32/quillset-stub.exe lane_bits=32 nsis_target= ;;
    x64) lane_tree=build/win64 lane_winearch=win64 lane_stub=build/win64/quillset-stub64.exe lane_bits=64 nsis_target=amd64-unicode ;;
    *) echo "bench: unknown lane '$lane' (give x86 or x64)" >&2; return 2 ;;
  esac
  lane_prefix=$lane_tree/wineprefix
}

stub_lane() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || { echo unknown; return; }
  machine=$(od -An -tx1 -j"$pe" -N6 "$1" 2>/dev/null | tr -d ' \n')
  case "$machine" in
    504500004c01) echo x86 ;;
    504500006486) echo x64 ;;
    *) echo unknown ;;
  esac
}

payload_dlls() {
  local -a want other
  local d
  local -a i386=(/usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows /usr/lib32/wine/i386-windows)
  local -a x86_64=(/usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows /usr/lib64/wine/x86_64-windows)
  if [ "$lane_bits" = 64 ]; then
    want=("${x86_64[@]}") other=("${i386[@]}")
  else
    want=("${i386[@]}") other=("${x86_64[@]}")
  fi
  payload_dir='' payload_note=''
  for d in "${want[@]}"; do
    [ -d "$d" ] && { payload_dir=$d; return; }
  done
  for d in "${other[@]}"; do
    if [ -d "$d" ]; then
      payload_dir=$d
      payload_note="no $lane_bits-bit Wine DLLs here (looked in ${want[*]}); the payload is the other architecture's, from $d"
      return
    fi
  done
  payload_note="no Wine DLLs here (looked in ${want[*]} ${other[*]})"
}

find_makensis() {
  makensis=$(command -v makensis || true)
  if [ -z "$makensis" ] && [ "$(id -u)" = 0 ] && [ -z "${CI:-}" ]; then
    echo "installing Debian's nsis for the comparison..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends nsis >/dev/null 2>&1 || true
    makensis=$(command -v makensis || true)
  fi
}

nsis_header() {
  [ -z "$nsis_target" ] || printf 'Target %s\n' "$nsis_target"
}

nsis_peer() {
  find_makensis
  [ -n "$makensis" ] && [ -n "$nsis_target" ] || return 0
  local d out
  d=$(mktemp -d)
  { nsis_header; printf 'OutFile "%s/probe.exe"\nRequestExecutionLevel user\nSection\nSectionEnd\n' "$d"; } > "$d/probe.nsi"
  if ! out=$("$makensis" -V1 "$d/probe.nsi" 2>&1) || [ ! -f "$d/probe.exe" ]; then
    echo "makensis does not build for Target $nsis_target ($(printf '%s\n' "$out" | grep -v '^\s*$' | head -1)); no NSIS peer in the $lane lane"
    makensis=
  fi
  rm -rf "$d"
}

winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
