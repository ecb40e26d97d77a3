#!/usr/bin/env bash
# Builds and tests the program for the systems this Linux machine cannot run
# natively, as far as it can:
#   windows      cross-built with MinGW-w64 against a static RtMidi (WinMM), the
#                unit tests run under Wine, the program run where there is no MIDI
#                device, the zip package built;
#   windows_build  that build alone, for a release (the tests check it);
#   windows_e2e  the end-to-end suite with that build under Wine in the VM;
#   libcxx       built with clang and libc++ (the macOS toolchain) against RtMidi and
#                GoogleTest built the same way, the unit tests run.
# RtMidi 6.0 comes from Debian's source package of trixie, GoogleTest from
# /usr/src/googletest.
#   scripts/platforms.sh [windows] [windows_build] [windows_e2e] [libcxx]
#                                           (default: windows, windows_e2e and libcxx)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bash scripts/setup.sh platforms
deps=$top/build-deps
jobs=$(nproc)
mkdir -p "$deps"

PASSED=0
FAILED=0
step() { echo "platforms: $*"; }
check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        echo "ok: $name"; PASSED=$((PASSED + 1))
    else
        echo "FAIL: $name"; FAILED=$((FAILED + 1))
    fi
}

# RtMidi as Windows and macOS users get it: MSYS2, vcpkg and Homebrew ship 6.0, so
# the source of Debian's next release (trixie) is unpacked once into $RTMIDI_SOURCE.
# A private apt state of its own leaves the machine's sources as they are; the
# tarball is checked against the signed index. Called on its own, not inside $(...),
# so that a failure ends the script.
RTMIDI_SOURCE=$deps/src/rtmidi-trixie
rtmidi_source() {
    [ -d "$RTMIDI_SOURCE" ] && return 0
    local apt=$deps/apt-trixie uri
    rm -rf "$deps/src" "$apt" && mkdir -p "$deps/src" "$apt/lists/partial" "$apt/cache"
    # The archive this machine already uses, from its apt sources in either format:
    # deb822 (.sources files) or one-line (sources.list, .list files).
    uri=$( { cat /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } |
          awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }')
    [ -n "$uri" ] || uri=$( { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
          awk '$1 == "deb" && !/security/ { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }')
    [ -n "$uri" ] || { echo "platforms: no Debian archive in this machine's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d)"; exit 1; }
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri trixie main" >"$apt/sources.list"
    local opts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
                -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
    quietly "$deps/apt-trixie.log" apt-get "${opts[@]}" update
    local orig sum
    read -r sum orig < <(apt-cache "${opts[@]}" showsrc rtmidi |
        awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 ~ /orig\.tar/ { print $1, $3; exit }')
    [ -n "${orig:-}" ] || { echo "platforms: trixie has no source of rtmidi (apt's log: $deps/apt-trixie.log)"; exit 1; }
    # Only the upstream tarball is needed; a missing Debian part is no failure.
    (cd "$deps/src" && apt-get "${opts[@]}" source --download-only -qq rtmidi/trixie >>"$deps/apt-trixie.log" 2>&1) || true
    echo "$sum  $deps/src/$orig" | sha256sum -c --quiet ||
        { echo "platforms: $orig missing, or not as the index says (apt's log: $deps/apt-trixie.log)"; exit 1; }
    tar -xzf "$deps/src/$orig" -C "$deps/src"
    mv "$deps/src"/rtmidi-*/ "$RTMIDI_SOURCE"
    step "RtMidi from $orig"
}

quietly() {  # quietly LOG COMMAND...: runs the command, showing its output only if it fails.
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log"; echo "platforms: FAILED: $* (the whole log: $log)"; exit 1; }
}

# build_dep NAME SOURCE PREFIX CMAKE_ARGS...: configures, builds and installs once.
build_dep() {
    local name=$1 source=$2 prefix=$3
    shift 3
    local dir=$deps/build-$name-$(basename "$prefix") log=$deps/$name-$(basename "$prefix").log
    [ -f "$prefix/.$name-installed" ] && return 0
    step "building $name into $prefix"
    # No user package registry: RtMidi's CMake would write one.
    quietly "$log" cmake -S "$source" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_EXPORT_NO_PACKAGE_REGISTRY=ON "$@"
    quietly "$log" cmake --build "$dir" -j"$jobs" --target install
    touch "$prefix/.$name-installed"
}

windows_build() {
    local prefix=$deps/windows
    local cross=(-DCMAKE_TOOLCHAIN_FILE="$top/scripts/mingw-w64.cmake"
                 -DCMAKE_FIND_ROOT_PATH="$prefix")
    rtmidi_source
    build_dep rtmidi-trixie "$RTMIDI_SOURCE" "$prefix" "${cross[@]}" -DBUILD_SHARED_LIBS=OFF \
        -DRTMIDI_API_JACK=OFF -DRTMIDI_BUILD_TESTING=OFF
    build_dep googletest /usr/src/googletest "$prefix" "${cross[@]}" -DBUILD_GMOCK=OFF
    step "cross-building for Windows"
    # The preset points pkg-config at these dependencies, not at the host's Linux RtMidi.
    quietly "$deps/windows-build.log" cmake --preset windows -DTPMIDI_REQUIRE_RTMIDI=ON
    quietly "$deps/windows-build.log" cmake --build --preset windows -j"$jobs"
}

windows() {
    local build=$top/build-windows
    windows_build
    local dlls
    dlls=$(x86_64-w64-mingw32-objdump -p "$build/tpmidi01.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
    step "tpmidi01.exe imports: $dlls"
    check "tpmidi01.exe imports only system DLLs" \
        test -z "$(echo "$dlls" | tr ' ' '\n' | grep -vxE 'kernel32.dll|msvcrt.dll|winmm.dll|shell32.dll|advapi32.dll|user32.dll|ws2_32.dll|api-ms-win-.*|')"

    # Wine: a private prefix, no Mono or Gecko installers, no debug chatter.
    export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
    local wine=/usr/lib/wine/wine64
    step "unit tests under Wine"
    check "unit tests under Wine" "$wine" "$build/tests/unit_tests.exe" --gtest_brief=1

    local out
    out=$("$wine" "$build/tpmidi01.exe" -sync </dev/null 2>/dev/null | tr -d '\r') && status=0 || status=$?
    check "tpmidi01.exe -sync without a MIDI device: no input ports, status 0" \
        test "$out" == $'\nNo input ports available!' -a "$status" -eq 0

    # The simulator reads its --bank file before opening its ports, so a name in
    # another script shows the command line reaching the file system unchanged; with
    # no virtual ports it must then fail at once.
    local scratch=$build/scratch
    rm -rf "$scratch" && mkdir -p "$scratch"
    printf '\x24\x01\x02' >"$scratch/жук曲.tp2"
    "$wine" "$build/trackpod-sim.exe" --bank "$scratch/жук曲.tp2" >/dev/null 2>"$scratch/err" </dev/null &&
        status=0 || status=$?
    check "trackpod-sim.exe reads a file named in Cyrillic and Chinese" test "$status" -eq 1
    check "trackpod-sim.exe fails at once without virtual ports" \
        grep -q "cannot open virtual MIDI ports" "$scratch/err"
    "$wine" "$build/trackpod-sim.exe" --bank "$scratch/bänk.tp2" >/dev/null 2>"$scratch/err" </dev/null &&
        status=0 || status=$?
    check "trackpod-sim.exe: a missing file is reported as such" grep -q "cannot read" "$scratch/err"

    (cd "$build" && cpack -G ZIP >/dev/null)
    local zip
    zip=$(ls "$build"/tpmidi01-*-windows-x86_64.zip)
    cmake -E tar tf "$zip" >"$scratch/zip.txt"
    for f in tpmidi01.exe README.md tpmidi01.txt; do
        check "the zip holds $f" grep -q "/$f\$" "$scratch/zip.txt"
    done
    check "the manual page as text shows the file name жук.tp2 as written" \
        grep -q "жук\.tp2" "$build/tpmidi01.txt"

}

# Over WinMM: Wine's driver maps the ALSA sequencer's ports to MIDI devices, so the
# VM's sequencer gives the Windows build a MIDI system to run on: the end-to-end
# suite through the VM's USB MIDI interface, the simulator (the Linux build) behind it.
windows_e2e() {
    step "tpmidi01.exe over WinMM under Wine, in the VM, through the USB MIDI interface"
    bash "$top/scripts/setup.sh" vm
    [ -x "$top/build/trackpod-sim" ] || bash "$top/scripts/build.sh" >/dev/null
    if bash "$top/scripts/e2e.sh" build-windows usb | sed 's/^/    /'; then status=0; else status=$?; fi
    check "the end-to-end suite with tpmidi01.exe over WinMM under Wine" test "$status" -eq 0
}

libcxx() {
    local prefix=$deps/libcxx build=$top/build-libcxx
    local flags=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
                 -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++
                 -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++)
    # Shared: a static RtMidi would not carry its private dependencies. No MIDI
    # system: the unit tests never reach one.
    rtmidi_source
    build_dep rtmidi-trixie "$RTMIDI_SOURCE" "$prefix" "${flags[@]}" -DBUILD_SHARED_LIBS=ON \
        -DRTMIDI_API_JACK=OFF -DRTMIDI_API_ALSA=OFF -DRTMIDI_BUILD_TESTING=OFF
    build_dep googletest /usr/src/googletest "$prefix" "${flags[@]}" -DBUILD_GMOCK=OFF
    step "building with clang and libc++"
    # The preset leaves out the benchmarks: the benchmark library on this machine is built
    # against libstdc++.
    quietly "$deps/libcxx-build.log" cmake --preset libcxx -DTPMIDI_REQUIRE_RTMIDI=ON
    quietly "$deps/libcxx-build.log" cmake --build --preset libcxx -j"$jobs"
    check "unit tests with libc++" "$build/tests/unit_tests" --gtest_brief=1
}

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(windows windows_e2e libcxx)
for t in "${targets[@]}"; do
    case $t in
        windows | windows_build | windows_e2e | libcxx) "$t" ;;
        *) echo "unknown target: $t"; exit 2 ;;
    esac
done
echo "platforms: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
