#!/usr/bin/env bash
# tools/bootstrap.sh on a machine whose package index is out of sync: apt-get
# update fails every time and the i386 packages cannot be installed. The
# bootstrap must retry, go on, install the rest, and say why there is no x86
# lane; on a host that runs no 32-bit programs it must not ask for i386 at all.
#   bootstrap-test.sh SOURCE_DIR
set -uo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; echo "--- output"; cat "$work/out"; echo "--- apt/dpkg calls"; cat "$work/calls"; exit 1; }

mkdir -p "$work/bin" "$work/tree/tools"
cp "$src/tools/bootstrap.sh" "$work/tree/tools/"
for tool in apt-get dpkg; do
  cat > "$work/bin/$tool" <<STUB
#!/usr/bin/env bash
echo "$tool \$*" >> "$work/calls"
case "$tool \$*" in
  "apt-get update"*) echo "E: File has unexpected size (1234 != 5678). Mirror sync in progress?"; exit 100 ;;
  "apt-get install"*wine32:i386*) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  "apt-get install"*nsis*) [ -z "\${FAIL_INSTALL:-}" ] || exit 100 ;;
esac
exit 0
STUB
done
printf '#!/bin/sh\nexit 1\n' > "$work/bin/dpkg-query"          # nothing installed
printf '#!/bin/sh\nprintf "%%s\\n" ja_JP.utf8 pl_PL.utf8 ru_RU.utf8 zh_CN.utf8 de_DE.utf8 fi_FI.utf8\n' > "$work/bin/locale"
printf '#!/bin/sh\nexec "$@"\n' > "$work/bin/sudo"
chmod +x "$work/bin/"*

run() {  # run X86_RUNS: the bootstrap with a host that does (0) or does not (1) run 32-bit programs
  printf '#!/bin/sh\n[ %s = 0 ] || { echo "this host does not run 32-bit programs (Exec format error)"; exit 1; }\n' "$1" \
    > "$work/tree/tools/runs-x86"
  : > "$work/calls"
  PATH="$work/bin:$PATH" QS_APT_PAUSE=0 bash "$work/tree/tools/bootstrap.sh" > "$work/out" 2>&1
}

run 0 || fail "the bootstrap stopped on a failing apt-get update"
[ "$(grep -c '^apt-get update' "$work/calls")" = 3 ] || fail "apt-get update was not tried 3 times"
grep -qx 'dpkg --add-architecture i386' "$work/calls" || fail "i386 was not added on a host that runs it"
grep '^apt-get install' "$work/calls" | grep -v wine32 | grep -q ' wine64 ' || fail "the amd64 packages were not installed"
grep '^apt-get install' "$work/calls" | grep -v wine32:i386 | grep -q 'wine32' && fail "wine32 was asked for without its architecture"
grep -q 'the x86 lane will not run, the x64 lane will' "$work/out" || fail "no line saying why the x86 lane will not run"

run 1 || fail "the bootstrap failed on a host without 32-bit programs"
grep -q 'i386' "$work/calls" && fail "i386 was asked for on a host that cannot run it"
grep -q 'no 32-bit Wine: this host does not run 32-bit programs' "$work/out" || fail "no line saying why there is no 32-bit Wine"

FAIL_INSTALL=1 run 1 && fail "a failed install of the needed packages did not stop the bootstrap"
echo "bootstrap: 3 cases passed"
