#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
#   scripts/setup.sh             what the build and the demo need
#   scripts/setup.sh quick       also what scripts/test.sh --quick runs: GoogleTest,
#                                pytest, lintian, python-dbusmock, a D-Bus daemon, clang-tidy
#                                and for the web page Emscripten, Chromium's headless shell and a
#                                DevTools client (python3-websocket)
#   scripts/setup.sh test        also the rest of the tests' and the fuzzers' (clang and
#                                its sanitizer runtime, Google Benchmark)
#   scripts/setup.sh platforms   also the Windows cross build (MinGW-w64, Wine) and
#                                the libc++ build
#   scripts/setup.sh vm          also scripts/vm-run's VM (qemu, busybox), and its
#                                kernel and initramfs cached in build-deps/vm
# Several groups may be named at once. An entry point (demo.sh, test.sh, release.sh)
# provisions once, at its start, and exports TPMIDI_PROVISIONED with the groups it named:
# the scripts it runs then find nothing to do here.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each group holds the one before it; the VM's stands apart.
implied() {
    case $1 in
        quick) echo quick base ;;
        test) echo test quick base ;;
        platforms) echo platforms test quick base ;;
        *) echo "$1" ;;
    esac
}
provided=" "
for group in ${TPMIDI_PROVISIONED:-}; do provided+="$(implied "$group") "; done
packages=()
vm=false
for group in "${@:-base}"; do
    for part in $(implied "$group"); do
        [[ $provided == *" $part "* ]] && continue
        provided+="$part "
        case $part in
            base) packages+=(g++ cmake make pkg-config librtmidi-dev jackd2 libsystemd-dev) ;;
            quick) packages+=(libgtest-dev python3-pytest lintian bash-completion python3-dbusmock dbus-daemon dbus-bin
                              clang-tidy emscripten chromium-headless-shell firefox-esr python3-websocket) ;;
            test) packages+=(clang libclang-rt-14-dev libbenchmark-dev) ;;
            platforms) packages+=(g++-mingw-w64-x86-64-posix wine64 libc++-dev libc++abi-dev groff-base) ;;
            vm) packages+=(qemu-system-x86 busybox-static binutils udev); vm=true ;;
            *) echo "setup.sh: unknown group $part" >&2; exit 2 ;;
        esac
    done
done
[ ${#packages[@]} -gt 0 ] || $vm || exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    mkdir -p build-deps
    log=$PWD/build-deps/setup.log
    if ! { $sudo apt-get update -q && $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        tail -n 20 "$log"
        echo "setup.sh: FAILED to install ${missing[*]} (apt's whole log: $log)" >&2
        exit 1
    fi
fi
if $vm && ! bash scripts/vm-run --ready; then
    bash scripts/vm-run --prepare || { echo "setup.sh: FAILED to prepare the VM (scripts/vm-run --prepare)" >&2; exit 1; }
fi
