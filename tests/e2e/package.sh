#!/usr/bin/env bash
# The Debian package: built by CPack, unpacked into a scratch root, its programs run
# from there against each other.
. "$(dirname "$0")/lib.sh"

(cd "$3" && cpack -G DEB -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1)
deb=$(ls "$WORK"/pkg/tpmidi01_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$WORK/cpack.log"; check "the package builds" false; e2e_finish; exit 1; }
check "the package builds and depends on the RtMidi runtime" sh -c "dpkg-deb -f '$deb' Depends | grep -q librtmidi6"
root="$WORK/root"
dpkg -x "$deb" "$root"
check "it installs both programs and manual pages" ls "$root"/usr/bin/{tpmidi01,trackpod-sim} \
    "$root"/usr/share/man/man1/{tpmidi01,trackpod-sim}.1
TPMIDI="$root/usr/bin/tpmidi01" SIM="$root/usr/bin/trackpod-sim"
sim_start
tp </dev/null
sim_stop
check "the installed program, against the installed simulator, prints its usage" \
    grep -qx "tpmidi01 -parameter filename" "$WORK/out"
command -v man >/dev/null && check "the manual page formats" sh -c "man -l '$root/usr/share/man/man1/tpmidi01.1' 2>/dev/null | grep -q TROUBLESHOOTING"
e2e_finish
