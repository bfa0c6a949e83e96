#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the normal build and every test program (ctest),
#   2. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. a short run of every libFuzzer harness (clang, ASan + UBSan).
# Along the way it checks that deps.sh installs every package the build found
# (scripts/check_deps.sh), that the includes follow the layers (scripts/check_layers.sh), and
# builds and checks the Debian package (scripts/package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}

echo "== build (default preset)"
cmake --preset default >/dev/null
bash scripts/check_deps.sh build/default
bash scripts/check_layers.sh
cmake --build --preset default -j "$JOBS"

echo "== Debian package"
bash scripts/package.sh build/default

echo "== sanitizer build (asan preset)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$JOBS"

echo "== fuzz harnesses (fuzz preset)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$JOBS"
shopt -s nullglob
for f in build/fuzz/fuzz/*_fuzz; do
    corpus="fuzz/corpus/$(basename "$f")"
    work=$(mktemp -d)
    [[ -d $corpus ]] && cp -r "$corpus"/. "$work"/
    echo "-- $(basename "$f") for ${FUZZ_SECONDS}s"
    "$f" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
        "$work" >"$work.log" 2>&1 || { tail -n 60 "$work.log"; exit 1; }
    tail -n 1 "$work.log"
    rm -rf "$work" "$work.log"
done

echo "== tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset asan -j "$JOBS"

echo "== tests"
ctest --preset default -j "$JOBS"
