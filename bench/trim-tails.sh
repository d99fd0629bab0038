#!/usr/bin/env bash
# Measures how much layer space trimming quiet tails (-60 dBFS, or the level
# given as the first argument) saves on the sounds of Debian's
# sound-theme-freedesktop and alsa-utils, each converted as the window
# converts it, and prints the table (markdown) kept in bench/trim-tails.md.
# Builds in Release into build-bench/. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh sound-theme-freedesktop alsa-utils

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZK_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench-trimtails >/dev/null
driver=$PWD/$build/bin/bench-trimtails

# The packages' WAVE and Ogg sounds, named from /usr/share/sounds on.
mapfile -t sounds < <(dpkg -L sound-theme-freedesktop alsa-utils \
    | grep -E '^/usr/share/sounds/.*\.(wav|oga)$' | sed 's|^/usr/share/sounds/||' | sort)
echo "Trimmed at ${1:--60} dBFS; layer bytes as the sound check counts them (the kept channel"
echo "rounded down to 512 bytes, plus 512). sound-theme-freedesktop" \
    "$(dpkg-query -W -f '${Version}' sound-theme-freedesktop), alsa-utils" \
    "$(dpkg-query -W -f '${Version}' alsa-utils)."
echo
cd /usr/share/sounds
"$driver" --dbfs "${1:--60}" "${sounds[@]}"
