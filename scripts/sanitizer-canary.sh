#!/usr/bin/env bash
# Proves that a build meant to be sanitized is: its canary must die with a sanitizer
# report for each planted fault named. A build without the sanitizers, or with one
# of them missing, stops here with a message saying which.
#   scripts/sanitizer-canary.sh BUILD_DIR FAULT...   (past-block, past-size, signed)
set -uo pipefail
dir=$1
shift
canary=$dir/sanitizer_canary
if [ ! -x "$canary" ]; then
    echo "sanitizer canary: $canary was not built: $dir is not a sanitized build" >&2
    exit 1
fi
for fault in "$@"; do
    case $fault in
        past-block) report="AddressSanitizer: heap-buffer-overflow" ;;
        past-size) report="AddressSanitizer: container-overflow" ;;
        signed) report="runtime error: signed integer overflow" ;;
        *) echo "sanitizer canary: unknown fault $fault" >&2; exit 2 ;;
    esac
    out=$(ASAN_OPTIONS=detect_leaks=0 "$canary" "$fault" 2>&1)
    status=$?
    if [ "$status" -eq 0 ] || ! grep -qF "$report" <<<"$out"; then
        echo "sanitizer canary: $dir is NOT sanitized: the planted fault '$fault' was not" \
             "stopped by \"$report\" (status $status). Output:" >&2
        echo "$out" >&2
        exit 1
    fi
    echo "sanitizer canary: $fault stopped by \"$report\""
done
