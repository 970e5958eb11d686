#!/usr/bin/env bash
# Setup files signed as a publisher signs them, for the end-to-end tests of
# this lane: a throw-away certificate, then osslsigncode on what quillset.exe
# built.
#   make-signed-setups.sh OUT QUILLSET_EXE WINEPREFIX ARCH STUB SOURCE_DIR [COMPRESSION [NATIVE_QUILLSET]]
# OUT receives:
#   project/       the project (default.qsp installs to C:\QuillsetTest Signed)
#   Signed.exe     the setup file, signed (osslsigncode verify accepts it)
#   split/         the same project split into 100 KiB slices, its first
#                  slice (Setup.exe) signed after the split
#   sign/          built by the native quillset with --sign osslsigncode:
#                  Setup.exe, Uninstall.exe (the signed uninstaller it
#                  stores) and split/ (its first slice signed by the build);
#                  every one of them verified
#   cert.pem       the certificate (its key is thrown away at the end)
set -euo pipefail
out=$1 exe=$2 prefix=$3 arch=$4 stub=$5 src=$6 compression=${7:-zlib} native=${8:-}
for tool in openssl osslsigncode; do
  command -v "$tool" >/dev/null || { echo "make-signed-setups: $tool is missing (tools/bootstrap.sh installs it)" >&2; exit 1; }
done
win() { echo "Z:$(echo "$1" | tr / '\\')"; }
key=$(mktemp -d)
trap 'rm -rf "$key"' EXIT

rm -rf "$out"
mkdir -p "$out/project"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillset Test Publisher" \
  -addext extendedKeyUsage=codeSigning -keyout "$key/key.pem" -out "$out/cert.pem" 2>"$key/openssl.log" ||
  { cat "$key/openssl.log" >&2; exit 1; }

# a payload that does not compress, so the container is not tiny; an odd
# size, so signing has to pad before the table
head -c 150001 /dev/urandom > "$out/project/payload.bin"
printf 'Signed and installed.\r\n' > "$out/project/readme.txt"
cat > "$out/project/default.qsp" <<'EOF'
QSP40
[Global]
ApplicationName = Signed App
DefaultDir = C:\QuillsetTest Signed
[Files]
payload.bin, %MAINDIR%payload.bin
readme.txt, %MAINDIR%docs\readme.txt
[SysRegUninstall]
HKEY_LOCAL_MACHINE/Software/QuillsetTest-Signed
[SysRegString]
HKEY_LOCAL_MACHINE/Software/QuillsetTest-Signed/InstallDir=%MAINDIR%
EOF
sed -i 's/$/\r/' "$out/project/default.qsp"

"$src/tools/wine-run" --prefix "$prefix" "$exe" build -q --compression "$compression" --arch "$arch" --stub "$(win "$stub")" \
  -o "$(win "$out/Setup.exe")" "$(win "$out/project/default.qsp")"

sign() {
  osslsigncode sign -certs "$out/cert.pem" -key "$key/key.pem" -n "Signed App" -in "$1" -out "$2" >"$key/sign.log" 2>&1 ||
    { cat "$key/sign.log" >&2; exit 1; }
  osslsigncode verify -CAfile "$out/cert.pem" -in "$2" >"$key/verify.log" 2>&1 ||
    { cat "$key/verify.log" >&2; echo "make-signed-setups: osslsigncode verify refused $2" >&2; exit 1; }
}
sign "$out/Setup.exe" "$out/Signed.exe"
mkdir -p "$out/split"
"$src/tools/wine-run" --prefix "$prefix" "$exe" build -q --arch "$arch" --stub "$(win "$stub")" --split 100K \
  -o "$(win "$out/split/Setup.exe")" "$(win "$out/project/default.qsp")"
sign "$out/split/Setup.exe" "$out/split/Signed.exe"
mv "$out/split/Signed.exe" "$out/split/Setup.exe"
rm -f "$out/Setup.exe"

# The build signs, through the publisher's tool: the uninstaller it stores
# and the setup file. (quillset.exe under Wine cannot run osslsigncode.)
if [ -n "$native" ]; then
  [ -x "$native" ] || { echo "make-signed-setups: no native quillset at $native (make native builds it)" >&2; exit 1; }
  verify() {
    osslsigncode verify -CAfile "$out/cert.pem" -in "$1" >"$key/verify.log" 2>&1 ||
      { cat "$key/verify.log" >&2; echo "make-signed-setups: osslsigncode verify refused $1" >&2; exit 1; }
  }
  # one signing time: the split set stores the very uninstaller of the whole file
  command="osslsigncode sign -certs '$out/cert.pem' -key '$key/key.pem' -n 'Signed App' -time $(date +%s) -in {in} -out {out}"
  for split in "" 100K; do
    dest=$out/sign${split:+/split}
    "$native" build -q --compression "$compression" --arch "$arch" --stub "$stub" --sign "$command" \
      ${split:+--split $split} -o "$dest/Setup.exe" "$out/project/default.qsp"
    verify "$dest/Setup.exe"
  done
  "$native" extract -q -d "$out/sign" "$out/sign/Setup.exe" Uninstall.exe
  verify "$out/sign/Uninstall.exe"
fi
echo "signed: $(stat -c %s "$out/Signed.exe") bytes ($arch, $compression), certificate table behind $(stat -c %s "$stub")-byte setup program"
