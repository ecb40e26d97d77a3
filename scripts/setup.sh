#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
#   scripts/setup.sh             what the build, the tests and the demo need
#   scripts/setup.sh platforms   also the Windows cross build (MinGW-w64, Wine) and
#                                the libc++ build, and a source entry for apt-get source
#   scripts/setup.sh vm          also scripts/vm-run's VM (qemu, busybox), and its
#                                kernel and initramfs cached in build-deps/vm
set -euo pipefail
packages=(g++ clang libclang-rt-14-dev cmake make pkg-config librtmidi-dev jackd2 libgtest-dev
          libbenchmark-dev)
if [ "${1:-}" == "platforms" ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine64 libc++-dev libc++abi-dev dpkg-dev groff-base)
fi
if [ "${1:-}" == "vm" ]; then
    packages+=(qemu-system-x86 busybox-static binutils)
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# apt-get source needs a deb-src entry; derive one from the machine's own Debian entries.
if [ "${1:-}" == "platforms" ] && ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    src=/etc/apt/sources.list.d/tpmidi01-deb-src
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$src.sources" >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee "$src.list" >/dev/null
    fi
    need_update=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
    $sudo apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
vm=$(dirname "$0")/vm-run
if [ "${1:-}" == "vm" ] && ! bash "$vm" --ready; then
    bash "$vm" --prepare
fi
