#!/bin/sh
# `make install` in miniature: installs the build folder $1 into a fresh DESTDIR under the prefix
# /usr/local, as the Makefile does, and checks what a desktop needs to start the program: every
# file in its place with its mode (and root's, when run as root), the polkit action naming the
# installed QBX as pkexec's program with the display passed on, the desktop entry and the terminal
# command starting that same QBX through pkexec. Then the polkit action alone into another folder.
set -eu
build=$1
prefix=/usr/local
qbx=$prefix/lib/corvale/QBX
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR=$work/root cmake --install "$build" --prefix "$prefix" >/dev/null
root=$work/root$prefix

# path (below the prefix) and octal mode
while read -r path mode; do
  [ -e "$root/$path" ] || fail "$path is not installed"
  got=$(stat -c %a "$root/$path")
  [ "$got" = "$mode" ] || fail "$path has mode $got, not $mode"
  if [ "$(id -u)" -eq 0 ]; then
    [ "$(stat -c %u "$root/$path")" = 0 ] || fail "$path does not belong to root"
  fi
done <<LIST
lib/corvale 755
lib/corvale/corvale 755
lib/corvale/QBX 755
lib/corvale/QBXReport 755
lib/corvale/QBXRestart 755
lib/corvale/FileFilter.xml 644
lib/corvale/help 755
lib/corvale/help/index.html 644
lib/corvale/help/15.html 644
bin/corvale 755
share/applications/corvale.desktop 644
share/polkit-1/actions/org.corvale.recovery.policy 644
LIST

policy=$root/share/polkit-1/actions/org.corvale.recovery.policy
grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">$qbx</annotate>" "$policy" ||
  fail "the polkit action does not name $qbx"
grep -q '<annotate key="org.freedesktop.policykit.exec.allow_gui">true</annotate>' "$policy" ||
  fail "the polkit action does not pass the display on"
if command -v xmllint >/dev/null; then xmllint --noout "$policy" || fail "the polkit action is no XML"; fi

desktop=$root/share/applications/corvale.desktop
[ "$(grep '^Exec=' "$desktop")" = "Exec=pkexec $qbx" ] || fail "the desktop entry starts $(grep '^Exec=' "$desktop")"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
fi

grep -q "^exec pkexec \"$qbx\"\$" "$root/bin/corvale" || fail "the terminal command does not start $qbx through pkexec"
sh -n "$root/bin/corvale" || fail "the terminal command is no shell script"

# The polkit action where the installed polkit reads actions, when told so.
DESTDIR=$work/other POLKIT_ACTIONS_DIR=/usr/share/polkit-1/actions cmake --install "$build" --prefix "$prefix" >/dev/null
[ -f "$work/other/usr/share/polkit-1/actions/org.corvale.recovery.policy" ] ||
  fail "POLKIT_ACTIONS_DIR is not honoured"
grep -q "exec.path\">$qbx<" "$work/other/usr/share/polkit-1/actions/org.corvale.recovery.policy" ||
  fail "the polkit action in POLKIT_ACTIONS_DIR does not name $qbx"
echo "install: all in place"
