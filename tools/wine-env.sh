# Shared by wine-run and wine-session: the environment of the project's prefix.
wine_env() {
  WINEPREFIX=$(mkdir -p "$(dirname "$1")" && cd "$(dirname "$1")" && pwd)/$(basename "$1")
  export WINEPREFIX
  export WINEARCH=win32
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Creates the prefix once; concurrent callers wait on the lock.
wine_ensure_prefix() {
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.quillset-ready" ]; then
      rm -rf "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: could not create $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.quillset-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
