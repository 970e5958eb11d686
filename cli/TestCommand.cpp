// quillset test SETUP: a smoke test of a setup file in a throw-away Wine
// prefix, for an author's CI. The work is a small POSIX shell script run
// with /bin/sh: Wine, find, awk and comm do it better than code of ours.
// The command reads what the script needs from the setup file: its slices
// and the values its Add/Remove Programs entry must show.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/SetupFile.h"
#include "cli/Split.h"
#include "efs/SliceRecord.h"
#include "script/FileParser.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// $1 the setup file, $2 x86 or x64, $3 the time limit of a run in seconds,
// $4 to $8 the script's AppId, its root, ApplicationName, Publisher and
// Version, $9 its scope (user or machine), then the numbered slices. Exit
// status 0 only when every run ended with 0, the entry is the script's,
// nothing is left, and one user's installation left the machine's keys as
// they were; 1 otherwise; 2 without Wine.
const char kScript[] = R"SH(set -u
setup=$1 arch=$2 limit=$3 appid=$4 approot=$5 appname=$6 publisher=$7 version=$8 scope=$9
shift 9  # the slices of a split setup remain
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
# Wine makes its server's folder (wine-XXXXXX) in TMPDIR: in work it goes too
export TMPDIR=$work
export WINEPREFIX=$work/prefix WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap '"$WINESERVER" -k >/dev/null 2>&1; "$WINESERVER" -w >/dev/null 2>&1; rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
unset DISPLAY WAYLAND_DISPLAY
win() { printf 'Z:%s' "$1" | tr / '\\'; }
echo "quillset test: a throw-away $WINEARCH Wine prefix in $work"
# a short limit is for the setup; a new prefix takes its time on a busy machine
boot=$limit
[ "$boot" -ge 600 ] || boot=600
timeout -k 5 "$boot" "$WINE" wineboot -i >"$work/wineboot.log" 2>&1 && timeout "$boot" "$WINESERVER" -w
booted=$?
if [ $booted -ne 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  if [ $booted -eq 124 ]; then echo "quillset test: Wine did not make its prefix within $boot seconds" >&2
  else echo "quillset test: Wine could not make its prefix ($WINE, $WINEARCH)" >&2; fi
  tail -n 5 "$work/wineboot.log" | sed 's/^/  /' >&2
  exit 2
fi
# Wine links Desktop, Documents and the like to the home folder of whoever
# runs it: what a setup put there would land outside the prefix, unseen.
if ! find "$WINEPREFIX/drive_c" -type l -exec sh -c 'for l; do rm -f "$l" && mkdir "$l" || exit 1; done' sh {} +; then
  echo "quillset test: cannot give the prefix profile folders of its own" >&2
  exit 1
fi
# Windows makes the user's programs folder and Uninstall key on first use
# and keeps them; a new prefix lacks both, and a per-user setup's would show
# as left behind.
for local in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do
  [ -d "$local" ] && mkdir -p "$local/Programs"
done
# (the snapshot reads the registry files, written once the server ends)
if ! { timeout "$boot" "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' /f &&
  timeout "$boot" "$WINESERVER" -w; } >/dev/null 2>&1; then
  echo "quillset test: cannot give the prefix the user's Uninstall key" >&2
  exit 1
fi
# Every file and folder of drive C:, and every registry key and value as
# "key  value=data", sorted. Wine's .reg files escape names and data; they
# print as they are (UTF-8), control characters escaped.
snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path . -o -type d -printf 'folder  %p\n' -o -printf 'file    %p\n') |
    sed 's|  \./|  C:\\|' | tr / '\\' | LC_ALL=C sort > "$work/$1.files"
  # what a file holds: small ones (INI files) by their CRC, so that one put
  # back as it was is not changed; large ones by size and time
  (cd "$WINEPREFIX/drive_c" && find . -type f -size +64k -printf '%s %T@ %p\n' &&
    find . -type f ! -size +64k -exec cksum {} +) > "$work/$1.stamps"
  for hive in system:HKEY_LOCAL_MACHINE user:HKEY_CURRENT_USER; do
    LC_ALL=C awk -v root="${hive#*:}" '
      function hex(s,  i, n) {
        for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", tolower(substr(s, i, 1))) - 1
        return n
      }
      function utf8(c) {
        if (c < 128) return sprintf("%c", c)
        if (c < 2048) return sprintf("%c%c", 192 + int(c / 64), 128 + c % 64)
        if (c < 65536) return sprintf("%c%c%c", 224 + int(c / 4096), 128 + int(c / 64) % 64, 128 + c % 64)
        return sprintf("%c%c%c%c", 240 + int(c / 262144), 128 + int(c / 4096) % 64, 128 + int(c / 64) % 64, 128 + c % 64)
      }
      # \x41f is a UTF-16 unit, four digits when a hex digit follows
      function plain(s,  out, at, c, u, n) {
        out = ""
        while ((at = index(s, "\\")) > 0) {
          out = out substr(s, 1, at - 1); c = substr(s, at + 1, 1); s = substr(s, at + 2)
          for (n = 0; n < 4 && substr(s, n + 1, 1) != "" && index("0123456789abcdefABCDEF", substr(s, n + 1, 1)); n++) ;
          if (c == "x" && n > 0) {
            u = hex(substr(s, 1, n)); s = substr(s, n + 1)
            if (u >= 55296 && u < 56320 && s ~ /^\\x[dD][c-fC-F][0-9a-fA-F][0-9a-fA-F]/) {
              u = 65536 + (u - 55296) * 1024 + hex(substr(s, 3, 4)) - 56320; s = substr(s, 7)
            }
            out = out utf8(u)
          } else if (c == "\\" || c == "\"" || c == "[" || c == "]") out = out c
          else out = out "\\" c
        }
        return out s
      }
      more != "" { sub(/^ +/, ""); $0 = more $0; more = "" }
      /,\\$/ { more = substr($0, 1, length($0) - 1); next }
      /^\[/ { key = $0; sub(/^\[/, "", key); sub(/\][^]]*$/, "", key)
              key = root "\\" plain(key); print "key     " key; next }
      /^#/ || /^$/ || /^WINE REGISTRY/ { next }
      { print "value   " key "  " plain($0) }' "$WINEPREFIX/${hive%%:*}.reg"
  done | LC_ALL=C sort > "$work/$1.reg"
}
# What is in b but not in a, without Wine's own bookkeeping.
added() {
  LC_ALL=C comm -13 "$work/$1" "$work/$2" | grep -v -e '\\Wine\\' -e '\\Wine  ' -e 'CurrentVersion\\Explorer' \
    -e 'MountedDevices' -e 'DynData' -e 'Volatile' -e 'Session Manager' -e 'Control\\Print' -e 'DeviceClasses' \
    -e 'Enum\\' -e 'Cryptography' -e 'Control\\Class' -e 'HARDWARE' -e 'Shell Folders' -e 'Tcpip' \
    -e 'NetworkCards' || true
}
# Files of a that b holds with other contents.
changed() {
  LC_ALL=C awk '{ at = index($0, " ./"); path = substr($0, at + 3) }
    FNR == NR { was[path] = $0; next }
    path in was && was[path] != $0 { print "changed C:/" path }' "$work/$1.stamps" "$work/$2.stamps" |
    tr / '\\' | LC_ALL=C sort
}
# Runs step $1 ("install", "uninstall"; $2 says how, $3 is its log): the
# program and arguments after them, and whatever it started, within the
# limit; its exit code in $code. A run past the limit is ended with the
# prefix's wineserver, and so is the test.
run() {
  step=$1 what=$2 log=$3; shift 3
  start=$(date +%s)
  timeout -k 5 "$limit" "$WINE" "$@" >/dev/null 2>&1
  code=$?
  left=$((start + limit - $(date +%s)))
  if [ "$left" -gt 0 ] && timeout "$left" "$WINESERVER" -w; then return; fi
  "$WINESERVER" -k >/dev/null 2>&1
  echo "quillset test: the $step ($what) did not end within $limit seconds; it was stopped" >&2
  if [ -s "$log" ]; then
    echo "Its log ends:" >&2
    tail -n 5 "$log" | tr -d '\r' | sed 's/^/  /' >&2
  fi
  exit 1
}
# The Add/Remove Programs entry as a package manager reads it: name,
# publisher and version are the script's. 0 when they are.
check_entry() {
  if [ -z "$appid" ]; then
    echo "Add/Remove Programs: no entry (the script has no AppId)"
    return 0
  fi
  QS_ID=$appid QS_ROOT=$approot QS_NAME=$appname QS_PUBLISHER=$publisher QS_VERSION=$version LC_ALL=C awk '
    BEGIN { tail = "\\microsoft\\windows\\currentversion\\uninstall\\" tolower(ENVIRON["QS_ID"])
            native = tolower(ENVIRON["QS_ROOT"]) "\\software" tail
            wow = tolower(ENVIRON["QS_ROOT"]) "\\software\\wow6432node" tail }
    { line = substr($0, 9); k = tolower(line) }
    $1 == "key" && (k == native || k == wow) { entry = line; next }
    function take(at,  v, eq) {
      v = substr(line, at + 2); eq = index(v, "\"=")
      name = substr(v, 2, eq - 2); data = substr(v, eq + 2); has[name] = 1
      got[name] = data ~ /^".*"$/ ? substr(data, 2, length(data) - 2) : "(" data ")"
    }
    $1 == "value" && substr(k, 1, length(native)) == native && substr(line, length(native) + 1, 3) == "  \"" {
      take(length(native) + 1)
    }
    $1 == "value" && substr(k, 1, length(wow)) == wow && substr(line, length(wow) + 1, 3) == "  \"" {
      take(length(wow) + 1)
    }
    function check(value, key, want) {
      if (!(value in has) && want == "") return
      if (!(value in has)) print "  " value " is missing; the script says " key " = " want
      else if (want == "") print "  " value " is \"" got[value] "\"; the script has no " key
      else if (got[value] != want) print "  " value " is \"" got[value] "\"; the script says " key " = " want
      else return
      bad = 1
    }
    END {
      if (entry == "") {
        print "Add/Remove Programs: no entry " ENVIRON["QS_ROOT"] "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" ENVIRON["QS_ID"]
        exit 1
      }
      print "Add/Remove Programs: " entry
      check("DisplayName", "ApplicationName", ENVIRON["QS_NAME"])
      check("Publisher", "Publisher", ENVIRON["QS_PUBLISHER"])
      check("DisplayVersion", "Version", ENVIRON["QS_VERSION"])
      if (!bad) print "  DisplayName, Publisher and DisplayVersion are the script'"'"'s"
      exit bad
    }' "$work/installed.reg"
}
# One user's installation has no rights to HKEY_LOCAL_MACHINE\Software:
# whatever it added, changed or removed there is named. 0 when nothing.
check_machine() {
  [ "$scope" = user ] || return 0
  for s in before installed; do
    LC_ALL=C grep -a -e '^key     HKEY_LOCAL_MACHINE\\Software$' -e '^[a-z]*  *HKEY_LOCAL_MACHINE\\Software[\\ ]' \
      "$work/$s.reg" > "$work/$s.software"
  done
  changes=$( { added before.software installed.software | sed 's/^/  + /'
    added installed.software before.software | sed 's/^/  - /'; } )
  if [ -z "$changes" ]; then
    printf '%s\n' 'HKEY_LOCAL_MACHINE\Software: unchanged, as a per-user installation (Scope = user) leaves it'
    return 0
  fi
  printf '%s\n' 'HKEY_LOCAL_MACHINE\Software changed, which a per-user installation (Scope = user) has no rights to:'
  printf '%s\n' "$changes"
  return 1
}
cp "$setup" "$work/Setup.exe" || exit 1
n=0
for slice; do
  n=$((n + 1))
  cp "$slice" "$work/Setup.$(printf %03d "$n")" || exit 1
done
passed=1
# The run modes tested, each an install and an uninstall in this prefix.
# /PASSIVE (progress only) joins /S here once the setup program takes it;
# its window needs a display.
modes=/S
for mode in $modes; do
  snapshot before
  run install "Setup.exe $mode" "$work/install.log" "$work/Setup.exe" "$mode" "/LOG=$(win "$work/install.log")"
  installed=$code
  snapshot installed
  echo "Setup.exe $mode: exit code $installed"
  echo "Installed:"
  { added before.files installed.files; changed before installed; } | sed 's/^/  /'
  added before.reg installed.reg | sed 's/^/  /'
  check_entry || passed=0
  check_machine || passed=0
  uninstaller=$(sed -n 's/^[0-9:]* Uninstaller written: //p' "$work/install.log" 2>/dev/null | tr -d '\r' | tail -1)
  if [ -z "$uninstaller" ]; then
    echo "quillset test: the setup wrote no uninstaller; its log:" >&2
    sed 's/^/  /' "$work/install.log" >&2 2>/dev/null
    exit 1
  fi
  run uninstall "Uninstall.exe /S" "$work/uninstall.log" "$uninstaller" /S "/LOG=$(win "$work/uninstall.log")"
  removed=$code
  snapshot after
  echo "Uninstall.exe /S: exit code $removed"
  left=$( { added before.files after.files; changed before after; added before.reg after.reg; } | sed 's/^/  /')
  if [ -n "$left" ]; then
    echo "Left behind:"
    printf '%s\n' "$left"
  else
    echo "nothing left"
  fi
  [ "$installed" -eq 0 ] && [ "$removed" -eq 0 ] && [ -z "$left" ] || passed=0
  rm -f "$work/install.log" "$work/uninstall.log"
done
[ "$passed" -eq 1 ]
)SH";

#ifndef _WIN32
CommandResult ReadStoredScript(const std::string& path, const std::string& shownAs, std::string* text) {
  CSetupFile file;
  CommandResult opened = file.Open(path.c_str());
  if (!opened.Ok()) return opened;
  const int at = file.Kind() == FILEKIND_INSTALLER ? file.Find("default.qsp") : -1;
  if (at < 0) return InputFailure(shownAs + ": not a setup file (no project script stored in it)");
  const EfsDecodeResult r = DecodeToText(file, file.Entries()[(size_t)at], text);
  if (r != EFS_DECODE_OK) return InputFailure(shownAs + ": its project script: " + DecodeResultText(r));
  return Succeeded();
}

// Appends bytes [0, size) of from (all of it when size is -1) to out.
int AppendFile(FILE* out, const std::string& from, int64_t size) {
  FILE* in = fopen(from.c_str(), "rb");
  if (!in) return 0;
  std::vector<char> buffer(1 << 16);
  int ok = 1;
  while (ok && size != 0) {
    const size_t want = size < 0 || (uint64_t)size > buffer.size() ? buffer.size() : (size_t)size;
    const size_t got = fread(buffer.data(), 1, want, in);
    if (got == 0) {
      ok = size < 0 && !ferror(in);
      break;
    }
    ok = fwrite(buffer.data(), 1, got, out) == got;
    if (size > 0) size -= (int64_t)got;
  }
  fclose(in);
  return ok;
}

// The script of a split setup: its slices joined behind the bare program in
// a temporary file, as the setup program joins them, and read from there.
CommandResult ReadSplitScript(const std::string& setup, const SetupLayout& layout,
                              const std::vector<std::string>& slices, std::string* text) {
  const char* tmp = getenv("TMPDIR");
  std::string joined = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillset-test-join.XXXXXX";
  const int fd = mkstemp(&joined[0]);
  if (fd < 0) return InputFailure("cannot make a temporary file to join the slices: " + PlatformErrorText(errno));
  PlatformCleanupAdd(joined);
  FILE* out = fdopen(fd, "wb");
  int ok = out && AppendFile(out, setup, (int64_t)(layout.End - layout.SliceRecordSize));
  for (size_t i = 0; ok && i < slices.size(); ++i) ok = AppendFile(out, slices[i], -1);
  if (out && fclose(out) != 0) ok = 0;
  if (!out) close(fd);
  CommandResult r = ok ? ReadStoredScript(joined, setup + " and its slices", text)
                       : InputFailure("cannot join the slices of " + setup + ": " + PlatformErrorText(errno));
  PlatformRemoveFile(joined.c_str());
  PlatformCleanupRemove(joined);
  return r;
}

#endif

}  // namespace

int RunTest(const Arguments& args) {
  COptionWalker walker("test", args);
  bool option = false;
  std::string text, setup;
  unsigned long limit = 600;
  while (walker.Next(&option, &text)) {
    if (option && text == "--timeout") {
      std::string value;
      if (!walker.Value(&value)) return EXIT_USAGE;
      char* end = nullptr;
      errno = 0;
      limit = strtoul(value.c_str(), &end, 10);
      if (value.empty() || value[0] < '0' || value[0] > '9' || *end || errno || limit < 1 || limit > 604800)
        return UsageError("test", "--timeout takes whole seconds, 1 to 604800: " + value);
      continue;
    }
    if (option) return UsageError("test", "unknown option " + text);
    if (!setup.empty()) return UsageError("test", "one setup file only");
    setup = text;
  }
  if (setup.empty()) return UsageError("test", "which setup file?");
  const PeArch arch = ReadArchOfFile(setup.c_str());
  if (arch == PE_ARCH_UNKNOWN) return Finish(InputFailure(setup + ": not a setup file (no Windows program at its start)"));
#ifdef _WIN32
  (void)limit;
  fprintf(stderr, "quillset test runs on Linux, with Wine; on Windows run %s /S and Uninstall.exe /S yourself\n",
          setup.c_str());
  return EXIT_USAGE;
#else
  SetupLayout layout;
  if (!ReadLayoutOfFile(setup.c_str(), &layout)) return Finish(InputFailure(setup + ": cannot read it"));
  std::vector<std::string> slices;
  if (layout.SliceRecordSize) {
    const uint32_t count = (layout.SliceRecordSize - SLICE_RECORD_FIXED_SIZE) / SHA256_SIZE;
    for (uint32_t n = 1; n <= count; ++n) {
      slices.push_back(SliceName(setup, (int)n));
      FILE* f = fopen(slices.back().c_str(), "rb");
      if (!f) return Finish(InputFailure("the slice " + slices.back() + " is missing; every slice goes beside " + setup));
      fclose(f);
    }
  }
  std::string stored;
  const CommandResult read = slices.empty() ? ReadStoredScript(setup, setup, &stored)
                                            : ReadSplitScript(setup, layout, slices, &stored);
  if (!read.Ok()) return Finish(read);
  CFileParser script;
  if (!script.LoadText(stored.data(), (uint32_t)stored.size()))
    return Finish(InputFailure(setup + ": its stored project script does not start with QSP40"));
  // as the setup program reads them: one user's entry is the user's, any
  // other root is the machine's; /S takes machine where the user may choose
  const bool perUser = StoredGlobalValue(script, "Scope") == "user";
  const std::string root = perUser || StoredGlobalValue(script, "AppIdRoot") == "HKEY_CURRENT_USER" ? "HKEY_CURRENT_USER"
                                                                                              : "HKEY_LOCAL_MACHINE";
  std::vector<std::string> argv = {"sh", "-c", kScript, "sh", setup, arch == PE_ARCH_X64 ? "x64" : "x86",
                                   std::to_string(limit), StoredGlobalValue(script, "AppId"), root,
                                   StoredGlobalValue(script, "ApplicationName"), StoredGlobalValue(script, "Publisher"),
                                   StoredGlobalValue(script, "Version"), perUser ? "user" : "machine"};
  argv.insert(argv.end(), slices.begin(), slices.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return Finish(InputFailure("cannot start /bin/sh"));
  if (child == 0) {
    execv("/bin/sh", pointers.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return EXIT_INPUT;
  const int code = WEXITSTATUS(status);
  return code == 0 ? EXIT_OK : code == 2 ? EXIT_USAGE : EXIT_INPUT;
#endif
}
