#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
#   scripts/setup.sh             what the build and the demo need
#   scripts/setup.sh test        also the tests' and the fuzzers' (clang and its
#                                sanitizer runtime, GoogleTest, Google Benchmark, pytest)
#   scripts/setup.sh platforms   also the Windows cross build (MinGW-w64, Wine) and
#                                the libc++ build
#   scripts/setup.sh vm          also scripts/vm-run's VM (qemu, busybox), and its
#                                kernel and initramfs cached in build-deps/vm
set -euo pipefail
packages=(g++ cmake make pkg-config librtmidi-dev jackd2)
test_packages=(clang libclang-rt-14-dev libgtest-dev libbenchmark-dev python3-pytest lintian)
case ${1:-} in
    "") ;;
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
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
vm=$(dirname "$0")/vm-run
if [ "${1:-}" == "vm" ] && ! bash "$vm" --ready; then
    bash "$vm" --prepare
fi
