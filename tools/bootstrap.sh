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

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The i386 packages (32-bit Wine) only where the host runs 32-bit programs:
# elsewhere they cannot run, and an i386 index out of sync must not stop us.
want_i386=1
if ! why_no_i386=$(bash "$root/tools/runs-x86"); then
  want_i386=0
fi
need_i386=0
if [ "$want_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing=()
missing_i386=()
for p in "${packages[@]}"; do
  if [ "$p" = wine32 ]; then
    [ "$want_i386" = 1 ] || continue
    # an i386 package; dpkg-query needs the architecture-qualified name
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' ||
      missing_i386+=(wine32:i386)
    continue
  fi
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

if [ "$need_i386" = 0 ] && [ "${#missing[@]}" = 0 ] && [ "${#missing_i386[@]}" = 0 ]; then
  echo "bootstrap: all packages present"
  ensure_locales
  exit 0
fi

if [ "$need_i386" = 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync fails one index ("File has unexpected
# size"); the others are fresh all the same, so retry a few times and then go
# on with what we have.
tries=${QS_APT_TRIES:-3}
for i in $(seq "$tries"); do
  if $SUDO apt-get update -q; then break; fi
  if [ "$i" = "$tries" ]; then
    echo "bootstrap: apt-get update failed $tries times; going on with the package lists it could read"
  else
    echo "bootstrap: apt-get update failed; trying again (try $((i + 1)) of $tries)"
    sleep "${QS_APT_PAUSE:-10}"
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ "${#missing_i386[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing_i386[*]}"
  if ! $SUDO apt-get install -y -q --no-install-recommends "${missing_i386[@]}"; then
    echo "bootstrap: 32-bit Wine (wine32:i386) could not be installed (its i386 index may be out of sync with amd64); the x86 lane will not run, the x64 lane will"
  fi
elif [ "$want_i386" = 0 ]; then
  echo "bootstrap: no 32-bit Wine: $why_no_i386"
fi
ensure_locales
echo "bootstrap: done"
