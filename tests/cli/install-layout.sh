#!/usr/bin/env bash
# make install's layout works on its own: bin/quillset finds the setup program
# and the English table in share/quillset without any option.
#   install-layout.sh BUILD_TREE SOURCE_DIR STUB
set -euo pipefail
tree=$1 src=$2 stub=$3
if [ ! -f "$stub" ]; then
  echo "skipped: no setup program at $stub (build the Windows tree too)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/root" cmake --install "$tree" --prefix /opt/quillset >/dev/null
root="$work/root/opt/quillset"
for f in bin/quillset share/quillset/quillset-stub.exe share/quillset/English.ini \
         share/doc/quillset/quillset.md share/doc/quillset/examples/every-section/every-section.qsp; do
  [ -f "$root/$f" ] || { echo "missing from the install: $f"; exit 1; }
done
cmp "$stub" "$root/share/quillset/quillset-stub.exe"
cp -r "$src/examples/every-section" "$work/project"
"$root/bin/quillset" build -q "$work/project/every-section.qsp"
"$root/bin/quillset" list "$work/project/Setup.exe" > "$work/list.txt"
grep -q "setup program $(stat -c %s "$stub") bytes, 8 entries" "$work/list.txt" || { cat "$work/list.txt"; exit 1; }
grep -q "^Translations.ini " "$work/list.txt"
"$root/bin/quillset" verify -q "$work/project/Setup.exe"
echo "installed layout builds the example"
