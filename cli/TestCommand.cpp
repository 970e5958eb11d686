// quillset test SETUP: a smoke test of a setup file in a throw-away Wine
// prefix, for an author's CI. The work is a small POSIX shell script run
// with /bin/sh: Wine, find, awk and comm do it better than code of ours.
#include <stdio.h>
#include <string.h>

#include <string>

#include "cli/Commands.h"
#include "cli/SetupFile.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// $1 the setup file, $2 x86 or x64. Exit status 0 only when both runs ended
// with 0 and nothing is left; 1 otherwise; 2 without Wine.
const char kScript[] = R"SH(set -u
setup=$1 arch=$2
# Debian keeps the 64-bit loader off PATH
dir=${QUILLSET_WINE_DIR:-/usr/lib/wine}
if [ "$arch" = x64 ]; then
  WINEARCH=win64
  WINE=$(command -v wine64 || { [ -x "$dir/wine64" ] && echo "$dir/wine64"; } || true)
  WINESERVER=$(command -v wineserver64 || { [ -x "$dir/wineserver64" ] && echo "$dir/wineserver64"; } || command -v wineserver || true)
  export WINELOADER=$WINE
else
  WINEARCH=win32
  WINE=$(command -v wine || { [ -x "$dir/wine" ] && echo "$dir/wine"; } || true)
  WINESERVER=$(command -v wineserver || { [ -x "$dir/wineserver" ] && echo "$dir/wineserver"; } || true)
fi
if [ -z "$WINE" ] || [ -z "$WINESERVER" ]; then
  echo "quillset test: Wine is not installed; it runs the setup file. On Debian or Ubuntu:" >&2
  if [ "$arch" = x64 ]; then echo "  apt-get install wine wine64" >&2
  else echo "  dpkg --add-architecture i386 && apt-get update && apt-get install wine wine32" >&2; fi
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quillset-test.XXXXXX") || exit 1
export WINEPREFIX=$work/prefix WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap '"$WINESERVER" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY
win() { printf 'Z:%s' "$1" | tr / '\\'; }
echo "quillset test: a throw-away $WINEARCH Wine prefix in $work"
if ! "$WINE" wineboot -i >/dev/null 2>&1 || ! "$WINESERVER" -w || [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "quillset test: Wine could not make its prefix ($WINE, $WINEARCH)" >&2
  exit 2
fi
# Every file of drive C: outside the Windows folder, and every registry
# value as "key\value=data", sorted.
snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path . -o -type d -printf 'folder  %p\n' \
     -o -type f -printf 'file    %p\n') | sed 's|  \./|  C:\\|' | tr / '\\' | LC_ALL=C sort > "$work/$1.files"
  for hive in system:HKEY_LOCAL_MACHINE user:HKEY_CURRENT_USER; do
    awk -v root="${hive#*:}" '
      /^\[/ { key = $0; sub(/^\[/, "", key); sub(/\][^]]*$/, "", key); gsub(/\\\\/, "\\", key)
              key = root "\\" key; print "key     " key; next }
      /^#/ || /^$/ || /^WINE REGISTRY/ { next }
      { print "value   " key "  " $0 }' "$WINEPREFIX/${hive%%:*}.reg"
  done | LC_ALL=C sort > "$work/$1.reg"
}
# What is in b but not in a, without Wine's own bookkeeping.
added() {
  LC_ALL=C comm -13 "$work/$1" "$work/$2" | grep -v -e '\\Wine\\' -e '\\Wine  ' -e 'CurrentVersion\\Explorer' \
    -e 'MountedDevices' -e 'DynData' -e 'Volatile' -e 'Session Manager' -e 'Control\\Print' -e 'DeviceClasses' \
    -e 'Enum\\' -e 'Cryptography' -e 'Control\\Class' -e 'HARDWARE' -e 'Shell Folders' -e 'Tcpip' || true
}
snapshot before
cp "$setup" "$work/Setup.exe" || exit 1
"$WINE" "$work/Setup.exe" /S "/LOG=$(win "$work/install.log")" >/dev/null 2>&1
installed=$?
"$WINESERVER" -w
snapshot installed
echo "Setup.exe /S: exit code $installed"
echo "Installed:"
added before.files installed.files | sed 's/^/  /'
added before.reg installed.reg | sed 's/^/  /'
uninstaller=$(sed -n 's/^[0-9:]* Uninstaller written: //p' "$work/install.log" 2>/dev/null | tr -d '\r' | tail -1)
if [ -z "$uninstaller" ]; then
  echo "quillset test: the setup wrote no uninstaller; its log:" >&2
  sed 's/^/  /' "$work/install.log" >&2 2>/dev/null
  exit 1
fi
"$WINE" "$uninstaller" /S "/LOG=$(win "$work/uninstall.log")" >/dev/null 2>&1
removed=$?
"$WINESERVER" -w
snapshot after
echo "Uninstall.exe /S: exit code $removed"
left=$( { added before.files after.files; added before.reg after.reg; } | sed 's/^/  /')
if [ -n "$left" ]; then
  echo "Left behind:"
  echo "$left"
else
  echo "nothing left"
fi
[ "$installed" -eq 0 ] && [ "$removed" -eq 0 ] && [ -z "$left" ]
)SH";

}  // namespace

int RunTest(const Arguments& args) {
  COptionWalker walker("test", args);
  bool option = false;
  std::string text, setup;
  while (walker.Next(&option, &text)) {
    if (option) return UsageError("test", "unknown option " + text);
    if (!setup.empty()) return UsageError("test", "one setup file only");
    setup = text;
  }
  if (setup.empty()) return UsageError("test", "which setup file?");
  const PeArch arch = ReadArchOfFile(setup.c_str());
  if (arch == PE_ARCH_UNKNOWN) return Finish(InputFailure(setup + ": not a setup file (no Windows program at its start)"));
#ifdef _WIN32
  fprintf(stderr, "quillset test runs on Linux, with Wine; on Windows run %s /S and Uninstall.exe /S yourself\n",
          setup.c_str());
  return EXIT_USAGE;
#else
  fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return Finish(InputFailure("cannot start /bin/sh"));
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", kScript, "sh", setup.c_str(), arch == PE_ARCH_X64 ? "x64" : "x86",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return EXIT_INPUT;
  const int code = WEXITSTATUS(status);
  return code == 0 ? EXIT_OK : code == 2 ? EXIT_USAGE : EXIT_INPUT;
#endif
}
