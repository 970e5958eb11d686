#!/usr/bin/env bash
# make install's layout works on its own: bin/quillset finds both setup
# programs and the translation tables in share/quillset without any option.
#   install-layout.sh BUILD_TREE SOURCE_DIR STUB STUB64
set -euo pipefail
tree=$1 src=$2 stub=$3 stub64=$4
for s in "$stub" "$stub64"; do
  if [ ! -f "$s" ]; then
    echo "skipped: no setup program at $s (build the Windows trees too)"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/root" cmake --install "$tree" --prefix /opt/quillset >/dev/null
root="$work/root/opt/quillset"
for f in bin/quillset share/quillset/quillset-stub.exe share/quillset/quillset-stub64.exe \
         share/quillset/English.ini share/doc/quillset/quillset.md \
         share/doc/quillset/examples/every-section/every-section.qsp; do
  [ -f "$root/$f" ] || { echo "missing from the install: $f"; exit 1; }
done
cmp "$stub" "$root/share/quillset/quillset-stub.exe"
cmp "$stub64" "$root/share/quillset/quillset-stub64.exe"
cp -r "$src/examples/every-section" "$work/project"
# the default architecture, then the 64-bit one
"$root/bin/quillset" build -q "$work/project/every-section.qsp"
"$root/bin/quillset" list "$work/project/Setup.exe" > "$work/list.txt"
grep -q "installer (x86), setup program $(stat -c %s "$stub") bytes, 10 entries" "$work/list.txt" || { cat "$work/list.txt"; exit 1; }
grep -q "^Translations.ini " "$work/list.txt"
"$root/bin/quillset" verify -q "$work/project/Setup.exe"
"$root/bin/quillset" build -q --arch x64 -o "$work/Setup64.exe" "$work/project/every-section.qsp"
"$root/bin/quillset" list "$work/Setup64.exe" > "$work/list64.txt"
grep -q "installer (x64), setup program $(stat -c %s "$stub64") bytes, 10 entries" "$work/list64.txt" || { cat "$work/list64.txt"; exit 1; }
"$root/bin/quillset" verify "$work/Setup64.exe" | grep -q "all 10 entries are sound (x64 setup program)"
# every bundled table, found by --language in the installed layout
for t in English German French Spanish Italian PortugueseBrazil Dutch Polish Czech Russian Japanese SimplifiedChinese; do
  cmp "$src/translations/$t.ini" "$root/share/quillset/$t.ini"
done
"$root/bin/quillset" languages | grep -q "^ja      Japanese             932        $root/share/quillset/Japanese.ini\$"
"$root/bin/quillset" build -q --language ja -o "$work/SetupJa.exe" "$work/project/every-section.qsp"
"$root/bin/quillset" extract -q -d "$work/ja" "$work/SetupJa.exe" Translations.ini
# stored in UTF-8, converted from the table's code page
iconv -f CP932 -t UTF-8 "$src/translations/Japanese.ini" | cmp - "$work/ja/Translations.ini"
echo "installed layout builds the example for x86 and x64"
