#!/usr/bin/env bash
# The Debian package: built by CPack, unpacked into a scratch root, its programs run
# from there.
. "$(dirname "$0")/lib.sh"
build=$3
e2e_start "$1" "$2"

(cd "$build" && cpack -G DEB -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1)
deb=$(ls "$WORK"/pkg/tpmidi01_*.deb 2>/dev/null | head -n 1)
check "the package builds" test -n "$deb"
[ -n "$deb" ] || { cat "$WORK/cpack.log"; e2e_finish; exit 1; }
check "it depends on the RtMidi runtime" sh -c "dpkg-deb -f '$deb' Depends | grep -q librtmidi6"

root="$WORK/root"
dpkg -x "$deb" "$root"
for f in usr/bin/tpmidi01 usr/bin/trackpod-sim usr/share/man/man1/tpmidi01.1 usr/share/man/man1/trackpod-sim.1; do
    check "installs /$f" test -e "$root/$f"
done
check "the installed simulator explains itself" sh -c "'$root/usr/bin/trackpod-sim' --help | grep -q -- --gba-client"

# The installed program, against the installed simulator: the usage text.
SIM="$root/usr/bin/trackpod-sim"
sim_start
timeout 60 "$root/usr/bin/tpmidi01" </dev/null >"$WORK/out" 2>"$WORK/err"
sim_stop
check "the installed program prints its usage" grep -qx "tpmidi01 -parameter filename" "$WORK/out"
command -v man >/dev/null && check "the manual page formats" sh -c "man -l '$root/usr/share/man/man1/tpmidi01.1' 2>/dev/null | grep -q TROUBLESHOOTING"

e2e_finish
