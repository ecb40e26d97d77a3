#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer with the vector
# annotations, and UBSan), proves with the canary that they are on, and runs
# each for a bounded time, starting from the seed corpus in tests/fuzz/corpus.
#   scripts/fuzz.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
bash scripts/setup.sh test
bash scripts/build.sh fuzz >/dev/null
bash scripts/sanitizer-canary.sh build-fuzz past-block past-size signed
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
passed=0
for target in fuzz_exchange fuzz_receive; do
    mkdir -p "$work/$target"
    if (cd "$work" && "$OLDPWD/build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" \
            -timeout=10 -print_final_stats=0 "$work/$target" "$OLDPWD/tests/fuzz/corpus/$target" \
            >"$work/$target.log" 2>&1); then
        echo "fuzz: $target ran ${seconds}s: $(grep -o 'Done [0-9]* runs' "$work/$target.log")"
        passed=$((passed + 1))
    else
        echo "fuzz: $target FOUND A FAULT:"
        tail -n 60 "$work/$target.log"
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
