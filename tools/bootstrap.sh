#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: when
# everything is present it returns without touching apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev zlib1g-dev
  # the LZMA SDK's C sources (decoder and encoder), and liblzma for the
  # tests that hold our streams against it
  lzma-dev liblzma-dev
  # makensis, the peer make bench compares with
  nsis
  googletest
  clang libclang-rt-14-dev
  wine wine32 wine64 xvfb xauth x11-apps imagemagick
  # a window manager on the tests' Xvfb (tools/wine-session)
  openbox
  python3 locales
  osslsigncode openssl
  # glyphs for the Japanese and Chinese tables, measured and shown under Wine
  fonts-ipafont-gothic fonts-wqy-microhei
)

# The code-page lanes run Wine under these locales: 1250, 1251, 932, 936;
# the language lanes under de_DE and fi_FI too.
ensure_locales() {
  local l
  for l in ja_JP pl_PL ru_RU zh_CN de_DE fi_FI; do
    if ! locale -a 2>/dev/null | grep -qix "$l.utf8"; then
      echo "bootstrap: generating the $l.UTF-8 locale"
      $SUDO localedef -i "$l" -f UTF-8 "$l.UTF-8"
    fi
  done
}

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing=()
for p in "${packages[@]}"; do
  # wine32 is an i386 package; dpkg-query needs the architecture-qualified name
  q="$p"
  [ "$p" = wine32 ] && q="wine32:i386"
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

if [ "$need_i386" = 0 ] && [ "${#missing[@]}" = 0 ]; then
  echo "bootstrap: all packages present"
  ensure_locales
  exit 0
fi

if [ "$need_i386" = 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
ensure_locales
echo "bootstrap: done"
