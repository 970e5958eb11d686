#!/usr/bin/env bash
# quillset.exe under Wine writes the same setup file as the native quillset:
#   wine-same-bytes.sh QUILLSET_EXE NATIVE_QUILLSET WINEPREFIX SOURCE_DIR ARCH CONSOLE_PROBE
# Source files get times with sub-second parts, so both must read 100-ns times.
set -euo pipefail
exe=$1 native=$2 prefix=$3 src=$4 arch=$5 probe=$6
if [ ! -x "$native" ]; then
  echo "skipped: no native quillset at $native (build the native tree too)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }

# in a folder and with files whose names are not ASCII, as the UTF-8 script
# names them: quillset.exe must open them by those names
proj="$work/Проект 表"
mkdir "$proj"
cp -r "$src/examples/every-section" "$proj/p"
# a file that does not compress, so the entries cross the codec's buffers
head -c 200000 /dev/urandom > "$proj/p/files/sampler.dat"
names=("Прога.txt" "表.txt" "café.txt" "😀.txt")
qsp="$proj/p/every-section.qsp"
for n in "${names[@]}"; do echo "$n" > "$proj/p/files/$n"; done
awk -v names="$(printf '%s\n' "${names[@]}")" 'BEGIN { n = split(names, a, "\n") }
  { print } /^\[Files\]/ { for (i = 1; i <= n; ++i) printf "files\\%s, %%MAINDIR%%%s\n", a[i], a[i] }' \
  "$qsp" > "$work/q" && mv "$work/q" "$qsp"
find "$proj/p" -type f -exec touch -d "2023-04-05 06:07:08.1234567 UTC" {} +
stub=$(dirname "$exe")/quillset-stub.exe
[ "$arch" = x64 ] && stub=$(dirname "$exe")/quillset-stub64.exe

"$native" build -q --arch "$arch" --stub "$stub" --translations "$src/translations/English.ini" \
  -o "$work/native.exe" "$qsp"
for threads in 1 2; do
  "$src/tools/wine-run" --prefix "$prefix" "$exe" build -q -j $threads --arch "$arch" \
    --translations "$(win "$src/translations/English.ini")" -o "$(win "$work/wine$threads.exe")" "$(win "$qsp")"
  if ! cmp "$work/native.exe" "$work/wine$threads.exe"; then
    echo "quillset.exe (-j $threads) wrote other bytes than the native command"
    "$native" list "$work/native.exe" || true
    "$native" list "$work/wine$threads.exe" || true
    exit 1
  fi
done
# the solid LZMA container too: one encoder, the same on both systems
"$native" build -q --compression lzma --arch "$arch" --stub "$stub" --translations "$src/translations/English.ini" \
  -o "$work/native-lzma.exe" "$qsp"
"$src/tools/wine-run" --prefix "$prefix" "$exe" build -q --compression lzma --arch "$arch" \
  --translations "$(win "$src/translations/English.ini")" -o "$(win "$work/wine-lzma.exe")" "$(win "$qsp")"
if ! cmp "$work/native-lzma.exe" "$work/wine-lzma.exe"; then
  echo "quillset.exe --compression lzma wrote other bytes than the native command"
  exit 1
fi
# list prints the names in UTF-8, as the native command does
"$native" list "$work/native.exe" > "$work/native.list"
"$src/tools/wine-run" --prefix "$prefix" "$exe" list "$(win "$work/wine1.exe")" > "$work/wine.list"
for n in "${names[@]}"; do
  if ! grep -q "$n" "$work/wine.list"; then
    echo "quillset.exe list does not print $n in UTF-8:"
    cat "$work/wine.list"
    exit 1
  fi
done
if ! diff <(sed "s|$work/native.exe||" "$work/native.list") <(tr -d '\r' < "$work/wine.list" | sed 's|Z:.*wine1\.exe||'); then
  echo "quillset.exe list prints other lines than the native command"
  exit 1
fi
# and a console shows them as they are, and keeps its own code page
"$src/tools/wine-run" --prefix "$prefix" "$probe" "\"$(win "$exe")\" list \"$(win "$work/wine1.exe")\"" \
  "$(win "$work/console.txt")"
for n in "${names[@]}"; do
  if ! grep -q "^$n " "$work/console.txt"; then
    echo "the console does not show $n:"
    cat "$work/console.txt"
    exit 1
  fi
done
# and what quillset.exe wrote reads back under Wine
"$src/tools/wine-run" --prefix "$prefix" "$exe" verify -q "$(win "$work/wine2.exe")"
"$src/tools/wine-run" --prefix "$prefix" "$exe" verify -q "$(win "$work/wine-lzma.exe")"
# --sign runs its command through cmd.exe, the paths quoted (a folder with
# blanks and names that are not ASCII): copy writes {out} but signs nothing,
# and a failing command ends the build with its output and exit code
signed="$proj/signed dir"
sign_fails() {  # COMMAND EXPECTED-LINE...
  local command=$1; shift
  if "$src/tools/wine-run" --prefix "$prefix" "$exe" build -q --arch "$arch" --sign "$command" \
      --translations "$(win "$src/translations/English.ini")" -o "$(win "$signed/Setup.exe")" "$(win "$qsp")" \
      2>"$work/sign.err"; then
    echo "quillset.exe --sign '$command' did not fail"; exit 1
  fi
  for line in "$@"; do
    if ! tr -d '\r' < "$work/sign.err" | grep -qF "$line"; then
      echo "quillset.exe --sign '$command' did not say: $line"; cat "$work/sign.err"; exit 1
    fi
  done
  if [ -n "$(ls -A "$signed" 2>/dev/null)" ]; then
    echo "quillset.exe --sign '$1' left files:"; ls -la "$signed"; exit 1
  fi
}
sign_fails 'copy {in} {out}' "quillset: error: the sign command ended with exit code 0 but the uninstaller carries no signature"
sign_fails 'echo no certificate& exit 3 & rem {file}' \
  "quillset: error: the sign command failed on the uninstaller with exit code 3; its output:" "no certificate"

echo "same bytes: $(stat -c %s "$work/native.exe") bytes from both"
