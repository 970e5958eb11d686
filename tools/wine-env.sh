# Shared by wine-run and wine-session: the environment of the project's prefix.
#   wine_env PREFIX [win32|win64]
# Without an architecture, a prefix inside a win64 tree is win64, any other
# win32. A win64 prefix is run with the 64-bit loader and server themselves:
# the plain "wine" picks the 32-bit loader whenever it is installed, and on a
# host that runs no 32-bit programs that fails with "Exec format error".
wine_env() {
  WINEPREFIX=$(mkdir -p "$(dirname "$1")" && cd "$(dirname "$1")" && pwd)/$(basename "$1")
  export WINEPREFIX
  local arch=${2:-}
  if [ -z "$arch" ]; then
    case "$WINEPREFIX" in
      */win64/*) arch=win64 ;;
      *) arch=win32 ;;
    esac
  fi
  export WINEARCH=$arch
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ "$arch" = win64 ]; then
    WINE=$(wine_find /usr/lib/wine/wine64 wine64)
    WINESERVER=$(wine_find /usr/lib/wine/wineserver64 wineserver64 wineserver)
    export WINELOADER=$WINE
  else
    WINE=$(wine_find /usr/lib/wine/wine wine)
    WINESERVER=$(wine_find /usr/lib/wine/wineserver wineserver)
  fi
  export WINE WINESERVER
}

# The first of the given programs that exists (a path or a name on PATH).
wine_find() {
  local p
  for p in "$@"; do
    case "$p" in
      /*) [ -x "$p" ] && { echo "$p"; return; } ;;
      *) command -v "$p" >/dev/null 2>&1 && { command -v "$p"; return; } ;;
    esac
  done
  echo "$1"
}

# Creates the prefix once; concurrent callers wait on the lock.
wine_ensure_prefix() {
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.quillset-ready" ]; then
      rm -rf "$WINEPREFIX"
      "$WINE" wineboot -i >/dev/null 2>&1 || true
      "$WINESERVER" -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: could not create $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.quillset-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
