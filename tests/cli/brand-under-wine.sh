#!/usr/bin/env bash
# SetupIcon, Publisher and Version as Windows reads them from the setup file,
# signed and not, and from the signed uninstaller it installs; and
# quillset.exe writing the same bytes as the native command:
#   brand-under-wine.sh QUILLSET_EXE NATIVE_QUILLSET WINEPREFIX SOURCE_DIR ARCH RESOURCE_PROBE
set -euo pipefail
exe=$1 native=$2 prefix=$3 src=$4 arch=$5 probe=$6
if [ ! -x "$native" ]; then
  echo "skipped: no native quillset at $native (build the native tree too)"
  exit 77
fi
work=$(mktemp -d)
folder="qs-brand-$$"
trap 'rm -rf "$work" "$prefix/drive_c/$folder"' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }
run() { "$src/tools/wine-run" --prefix "$prefix" "$@"; }
stub=$(dirname "$exe")/quillset-stub.exe
[ "$arch" = x64 ] && stub=$(dirname "$exe")/quillset-stub64.exe

cp -r "$src/examples/hello" "$work/hello"
mkdir "$work/hello/art/icons"
python3 "$src/tests/cli/make-icon.py" "$work/hello/art/icons/app.ico" 16 32 48:png
sed -i 's|^\[Global\]|[Global]\nAppId = QsBrand\nPublisher = Ünïcode Söftware Ltd\nVersion = 2.10.3-rc1\nSetupIcon = art\\icons\\app.ico|' \
  "$work/hello/default.qsp"
"$native" build -q --arch "$arch" --stub "$stub" --translations "$src/translations/English.ini" \
  -o "$work/native.exe" "$work/hello/default.qsp"
run "$exe" build -q --arch "$arch" --translations "$(win "$src/translations/English.ini")" \
  -o "$(win "$work/wine.exe")" "$(win "$work/hello/default.qsp")"
if ! cmp "$work/native.exe" "$work/wine.exe"; then
  echo "quillset.exe wrote another branded setup file than the native command"; exit 1
fi

expected="icons=2
large=48x48 304000
small=16x16 104000
fixed=2.10.3.0 2.10.3.0
CompanyName=Ünïcode Söftware Ltd
FileDescription=Setup
FileVersion=2.10.3-rc1
ProductName=Hello Quillset
ProductVersion=2.10.3-rc1"
probe_is() {  # FILE WHAT
  run "$probe" "$(win "$1")" | tr -d '\r' > "$work/probe.txt"
  if ! diff <(echo "$expected") "$work/probe.txt"; then
    echo "Windows reads other resources from $2"; exit 1
  fi
}
probe_is "$work/native.exe" "the setup file"

# signed with a throw-away certificate: the setup file and the uninstaller
# it stores
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Quillset Test Publisher' \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$native" build -q --arch "$arch" --stub "$stub" --translations "$src/translations/English.ini" \
  --sign "osslsigncode sign -certs '$work/cert.pem' -key '$work/key.pem' -in {in} -out {out}" \
  -o "$work/signed.exe" "$work/hello/default.qsp"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >/dev/null
probe_is "$work/signed.exe" "the signed setup file"

# installed and removed silently: the uninstaller is the branded program too
run "$work/signed.exe" /S "/D=C:\\$folder"
installed="$prefix/drive_c/$folder"
[ -f "$installed/readme.txt" ] || { echo "the branded setup file installed nothing"; exit 1; }
osslsigncode verify -CAfile "$work/cert.pem" -in "$installed/Uninstall.exe" >/dev/null
probe_is "$installed/Uninstall.exe" "the installed Uninstall.exe"
run "$installed/Uninstall.exe" /S
for i in $(seq 50); do [ -e "$installed/readme.txt" ] || break; sleep 0.2; done
if [ -e "$installed/readme.txt" ]; then echo "the branded uninstaller removed nothing"; exit 1; fi
echo "branded: Windows reads the icon and version of the setup file and its uninstaller"
