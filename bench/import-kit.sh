#!/usr/bin/env bash
# Imports every kit of Debian's hydrogen-drumkits and hydrogen-data with
# `zkstool import-kit`, kit after kit, against a shell loop that runs
# `sox IN -b 16 -c 1 OUT rate 44100` over every sample the kits name. Prints
# the banks written, the instruments skipped and why, both times and the
# peak memory of each import. Builds in Release into build-bench/ unless
# ZKSTOOL names a zkstool to use. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh hydrogen-drumkits hydrogen-data sox time

if [ -z "${ZKSTOOL:-}" ]; then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build-bench -j "$(nproc)" --target zkstool >/dev/null
    ZKSTOOL=$PWD/build-bench/bin/zkstool
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mapfile -t kits < <(dpkg -L hydrogen-drumkits hydrogen-data | grep '/drumkit\.xml$' | sort)
echo "kits: ${#kits[@]}"

# zkstool: one process per kit, as a user would run it.
start=$(date +%s.%N)
for kit in "${kits[@]}"; do
    /usr/bin/time -f 'peak %M KB' -o "$work/mem" "$ZKSTOOL" import-kit "$kit" "$work/banks" \
        >"$work/out" 2>&1 || true
    grep -E '^import-kit:' "$work/out" | sed "s|^|$(basename "$(dirname "$kit")"): |"
    grep -E ': skipped' "$work/out" | sed 's/^/    /' || true
    grep '^peak' "$work/mem" | sed 's/^/    /'
done
end=$(date +%s.%N)
zks=$(echo "$end - $start" | bc)

# sox over every sample the kits name.
mkdir -p "$work/sox"
start=$(date +%s.%N)
n=0
for kit in "${kits[@]}"; do
    dir=$(dirname "$kit")
    while IFS= read -r file; do
        [ -f "$dir/$file" ] || continue
        n=$((n + 1))
        sox "$dir/$file" -b 16 -c 1 "$work/sox/$n.wav" rate 44100 2>/dev/null || true
    done < <(grep -o '<filename>[^<]*</filename>' "$kit" | sed 's/<[^>]*>//g' | sort -u)
done
end=$(date +%s.%N)
sox_time=$(echo "$end - $start" | bc)

echo
echo "banks written: $(find "$work/banks" -name '*.zks' | wc -l)"
echo "samples through sox: $n"
echo "zkstool import-kit: ${zks} s"
echo "sox loop: ${sox_time} s"
echo "ratio: $(echo "scale=2; $zks / $sox_time" | bc)"
