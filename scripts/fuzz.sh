#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each for a
# bounded time, one after the other.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS per target (default 60); TARGET is wavheader, generator, zksbank,
# manifest, drumkit, sfz, sf2, kitarchive or prepare (default: all nine). Inputs the fuzzer finds are kept in
# build-fuzz/corpus/TARGET; a crash is saved in build-fuzz/findings/TARGET
# and ends the run with a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(wavheader generator zksbank manifest drumkit sfz sf2 kitarchive prepare)
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS] [wavheader|generator|zksbank|manifest|drumkit|sfz|sf2|kitarchive|prepare ...]" >&2; exit 2 ;;
esac

scripts/install-deps.sh clang libclang-rt-14-dev
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

dictionary() {
    case $1 in
        zksbank) echo fuzz/zksbank.dict ;;
        manifest) echo fuzz/manifest.dict ;;
        drumkit) echo fuzz/drumkit.dict ;;
        sfz) echo fuzz/sfz.dict ;;
        sf2) echo fuzz/sf2.dict ;;
        kitarchive) echo fuzz/kitarchive.dict ;;
        *) echo fuzz/wave.dict ;;
    esac
}

export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    mkdir -p "$corpus" "$findings"
    echo "=== fuzz_$target for $seconds s"
    # New inputs go to the first folder only; the committed seeds stay as
    # they are.
    build-fuzz/bin/fuzz_"$target" "$corpus" "fuzz/corpus/$target" \
        -dict="$(dictionary "$target")" -max_total_time="$seconds" -timeout=20 \
        -print_final_stats=1 -artifact_prefix="$findings/"
done
