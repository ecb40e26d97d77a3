#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
#   scripts/setup.sh             what the build and the demo need
#   scripts/setup.sh quick       also what scripts/test.sh --quick runs: GoogleTest,
#                                pytest, lintian, python-dbusmock and a D-Bus daemon
#   scripts/setup.sh test        also the rest of the tests' and the fuzzers' (clang and
#                                its sanitizer runtime, Google Benchmark)
#   scripts/setup.sh platforms   also the Windows cross build (MinGW-w64, Wine) and
#                                the libc++ build
#   scripts/setup.sh vm          also scripts/vm-run's VM (qemu, busybox), and its
#                                kernel and initramfs cached in build-deps/vm
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(g++ cmake make pkg-config librtmidi-dev jackd2 libsystemd-dev)
quick_packages=(libgtest-dev python3-pytest lintian bash-completion python3-dbusmock dbus-daemon dbus-bin)
test_packages=("${quick_packages[@]}" clang libclang-rt-14-dev libbenchmark-dev)
case ${1:-} in
    "") ;;
    quick) packages+=("${quick_packages[@]}") ;;
    test) packages+=("${test_packages[@]}") ;;
    platforms) packages+=("${test_packages[@]}" g++-mingw-w64-x86-64-posix wine64 libc++-dev
                          libc++abi-dev groff-base) ;;
    vm) packages+=(qemu-system-x86 busybox-static binutils) ;;
    *) echo "setup.sh: unknown group $1" >&2; exit 2 ;;
esac
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
if [ "${1:-}" == "vm" ] && ! bash scripts/vm-run --ready; then
    bash scripts/vm-run --prepare || { echo "setup.sh: FAILED to prepare the VM (scripts/vm-run --prepare)" >&2; exit 1; }
fi
