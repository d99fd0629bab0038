#!/usr/bin/env bash
# Measures the program against the tools a user would otherwise reach for
# and prints one table (markdown) with the machine and the date:
#   1. adding a layer (ConvertFile + OpenAndCheckFile) against sox, and the
#      converters' peak memory on a short and a 10-minute file;
#   2. writing a full bank (GenerateZKS) against cp of as many bytes;
#   3. start-up to a shown window against a bare Qt Widgets program;
#   4. conversion quality against sox and sndfile-resample;
#   5. the waveform strip's summary and envelope of a 35-second layer.
#   6. zkstool build and build-all as whole processes against sox in a shell
#      loop, build-all's peak memory at 16 and 64 kits, and the Qt libraries
#      zkstool loads.
# Builds in Release into build-bench/ and works in build-bench/bench-work/.
# Not part of the tests; see bench/README.md for the figures and targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh hyperfine sox samplerate-programs time

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZK_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench-addlayer bench-writebank bench-startup \
    bench-startup-minimal bench-quality bench-waveform sndfile-convert-to-microsoft-pcm16 \
    sr-convert zkstool >/dev/null
mkdir -p "$build/bench-work"
cd "$build/bench-work"
# Relative paths: hyperfine runs commands without a shell and splits them at
# spaces.
bin=../bin
export QT_QPA_PLATFORM=offscreen

# --- helpers -----------------------------------------------------------------

# hyperfine NAME RUNS WARMUP LABEL COMMAND [LABEL COMMAND ...]: writes NAME.csv
measure() {
    local name=$1 runs=$2 warmup=$3
    shift 3
    local args=()
    while [ $# -gt 0 ]; do
        args+=(-n "$1" "$2")
        shift 2
    done
    hyperfine -N --style none --runs "$runs" --warmup "$warmup" --export-csv "$name.csv" \
        "${args[@]}" >/dev/null
}

# alternate NAME RUNS LABEL COMMAND LABEL COMMAND: runs the two commands by
# turns after one warm-up each, so that a machine getting busier or quieter
# weighs on both alike, and writes their medians to NAME.csv as hyperfine
# does. Commands are split at spaces, as hyperfine -N splits them.
alternate() {
    local name=$1 runs=$2 i start
    local -a first=() second=()
    $4 >/dev/null
    $6 >/dev/null
    for ((i = 0; i < runs; i++)); do
        start=${EPOCHREALTIME/./}
        $4 >/dev/null
        first+=($((${EPOCHREALTIME/./} - start)))
        start=${EPOCHREALTIME/./}
        $6 >/dev/null
        second+=($((${EPOCHREALTIME/./} - start)))
    done
    {
        echo "command,mean,stddev,median"
        echo "$3,,,$(middle "${first[@]}")"
        echo "$5,,,$(middle "${second[@]}")"
    } >"$name.csv"
}

# middle MICROSECONDS...: the median in seconds
middle() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 }
        END { printf "%.6f", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e6 }'
}

# median NAME LABEL: the median in milliseconds from NAME.csv
median() {
    awk -F, -v label="$2" 'NR > 1 && $1 == label { printf "%.1f", $4 * 1000 }' "$1.csv"
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

# verdict RATIO LIMIT
verdict() {
    awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit) ? "met" : "**missed**" }'
}

# Every target's outcome, printed together at the end.
targets=()
target() {
    targets+=("| $1 | $2 | $3 |")
}

peak_kb() {
    /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

# --- inputs --------------------------------------------------------------------

# The rate goes before -n so that sox synthesizes at it instead of resampling.
[ -f short.wav ] || sox -r 44100 -n -b 16 -c 1 short.wav synth 3 sine 440 vol 0.5
[ -f medium.flac ] || sox -r 48000 -n -b 24 -c 2 medium.flac synth 30 sine 440 sine 660 vol 0.5
[ -f long.wav ] || sox -r 96000 -n -b 16 -c 2 long.wav synth 600 sine 440 sine 660 vol 0.5
[ -f short96.wav ] || sox -r 96000 -n -b 16 -c 2 short96.wav synth 3 sine 440 sine 660 vol 0.5
# Eight mono layers that fill the budget: a 512-byte header, seven layers of
# 393,216 bytes and one of 392,704 (each 512 bytes of padding over its data).
for k in 1 2 3 4 5 6 7 8; do
    samples=$([ "$k" -lt 8 ] && echo 196352 || echo 196096)
    [ -f "layer$k.wav" ] || sox -r 44100 -n -b 16 -c 1 "layer$k.wav" synth "${samples}s" \
        sine $((200 * k)) vol 0.5
done
[ -f bank-sized.bin ] || head -c 3145728 /dev/urandom >bank-sized.bin

# --- 1. adding a layer ------------------------------------------------------------

echo "# Benchmarks"
echo
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores," \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
    "$(free -g | awk '/^Mem:/ { print $2 }') GB memory; hyperfine $(hyperfine --version | cut -d' ' -f2)," \
    "sox $(sox --version | grep -o 'v[0-9.]*'), libsndfile $(dpkg-query -W -f '${Version}' libsndfile1)," \
    "libsoxr $(dpkg-query -W -f '${Version}' libsoxr0)."
echo
echo "## 1. Adding a layer (ConvertFile + OpenAndCheckFile) against sox IN -b 16 OUT rate 44100"
echo
echo "Medians in ms. \"Whole\" is a bench-addlayer process from start to exit; \"in-process\" is"
echo "the same work repeated inside one process, the time the window is busy."
echo
echo "| Input | ours, whole | ours, in-process | sox | ratio whole | ratio in-process | target | verdict (in-process) |"
echo "|---|---|---|---|---|---|---|---|"
add_layer_row() {
    local label=$1 input=$2 runs=$3 limit=$4
    measure "add-$input" "$runs" 1 ours "$bin/bench-addlayer $input" \
        sox "sox $input -b 16 out-sox.wav rate 44100"
    local whole sox inproc
    whole=$(median "add-$input" ours)
    sox=$(median "add-$input" sox)
    inproc=$("$bin/bench-addlayer" --repeat "$runs" "$input")
    echo "| $label | $whole | $inproc | $sox | $(ratio "$whole" "$sox") |" \
        "$(ratio "$inproc" "$sox") | ${limit:-none} |" \
        "$([ -n "$limit" ] && verdict "$(ratio "$inproc" "$sox")" "$limit" || echo -)" "|"
    if [ -n "$limit" ]; then
        target "adding a layer, $label: within ${limit}x sox" \
            "$(ratio "$inproc" "$sox")x in-process, $(ratio "$whole" "$sox")x whole" \
            "$(verdict "$(ratio "$inproc" "$sox")" "$limit") in-process, $(verdict "$(ratio "$whole" "$sox")" "$limit") whole"
    fi
}
add_layer_row "3 s 44100 Hz 16-bit mono WAV" short.wav 30 1.5
add_layer_row "30 s 48000 Hz 24-bit stereo FLAC" medium.flac 10 2
add_layer_row "10 min 96000 Hz 16-bit stereo WAV" long.wav 3 ""
echo
echo "Peak memory (max RSS, KB) of each converter on a 3-second and a 10-minute 96000 Hz 16-bit"
echo "stereo WAV, run as the chain runs them (the second resamples the first's output to 44100 Hz):"
echo
echo "| Converter | 3 s | 10 min | grows with length |"
echo "|---|---|---|---|"
memory_row() {
    local name=$1 short=$2 long=$3 grows
    grows=$(awk -v s="$short" -v l="$long" 'BEGIN { print (l > 1.2 * s) ? "**yes**" : "no" }')
    echo "| $name | $short | $long | $grows |"
    case $name in
        sox*) ;;
        *) target "$name memory does not grow with length" "$short KB for 3 s, $long KB for 10 min" \
               "$([ "$grows" = no ] && echo met || echo '**missed**')" ;;
    esac
}
memory_row sndfile-convert-to-microsoft-pcm16 \
    "$(peak_kb "$bin/sndfile-convert-to-microsoft-pcm16" short96.wav short96-16.wav)" \
    "$(peak_kb "$bin/sndfile-convert-to-microsoft-pcm16" long.wav long-16.wav)"
memory_row sr-convert \
    "$(peak_kb "$bin/sr-convert" short96-16.wav 96000 short96-44.wav 44100)" \
    "$(peak_kb "$bin/sr-convert" long-16.wav 96000 long-44.wav 44100)"
memory_row "sox (for comparison)" \
    "$(peak_kb sox short96.wav -b 16 out-sox.wav rate 44100)" \
    "$(peak_kb sox long.wav -b 16 out-sox.wav rate 44100)"
rm -f short96-16.wav short96-44.wav long-16.wav long-44.wav out-sox.wav

# --- 2. writing a bank --------------------------------------------------------------

layers="layer1.wav layer2.wav layer3.wav layer4.wav layer5.wav layer6.wav layer7.wav layer8.wav"
echo
echo "## 2. Writing a full bank (GenerateZKS, eight layers, 3,145,728 bytes) against cp"
echo
echo "Medians in ms. GenerateZKS writes through QSaveFile, which syncs the file to disk before"
echo "it replaces the old bank; \"cp + fsync\" (dd conv=fsync) shows what that step costs alone."
echo
# shellcheck disable=SC2086
"$bin/bench-writebank" bank.zks $layers
[ "$(stat -c %s bank.zks)" -eq 3145728 ] || { echo "bank is not 3,145,728 bytes" >&2; exit 1; }
measure bank 30 3 ours "$bin/bench-writebank bank.zks $layers" \
    cp "cp bank-sized.bin copy.bin" \
    cpsync "dd if=bank-sized.bin of=copy-synced.bin bs=1M conv=fsync status=none"
# shellcheck disable=SC2086
bank_inproc=$("$bin/bench-writebank" --repeat 30 bank.zks $layers)
bank_whole=$(median bank ours)
bank_cp=$(median bank cp)
echo "| ours, whole | ours, in-process | cp | cp + fsync | ratio whole | ratio in-process | target | verdict (in-process) |"
echo "|---|---|---|---|---|---|---|---|"
echo "| $bank_whole | $bank_inproc | $bank_cp | $(median bank cpsync) |" \
    "$(ratio "$bank_whole" "$bank_cp") | $(ratio "$bank_inproc" "$bank_cp") | 3 |" \
    "$(verdict "$(ratio "$bank_inproc" "$bank_cp")" 3) |"
target "bank written within 3x cp, in-process" "$(ratio "$bank_inproc" "$bank_cp")x" \
    "$(verdict "$(ratio "$bank_inproc" "$bank_cp")" 3)"
target "bank written within 3x cp, as a whole process (bench-writebank, Qt Core only)" \
    "$(ratio "$bank_whole" "$bank_cp")x" "$(verdict "$(ratio "$bank_whole" "$bank_cp")" 3)"

# --- 3. start-up ------------------------------------------------------------------------

echo
echo "## 3. Start-up to a shown window and out again (offscreen)"
echo
measure startup 30 3 ours "$bin/bench-startup" minimal "$bin/bench-startup-minimal"
echo "| ours (ZKWindow) | bare QMainWindow | ratio |"
echo "|---|---|---|"
echo "| $(median startup ours) | $(median startup minimal) |" \
    "$(ratio "$(median startup ours)" "$(median startup minimal)") |"

# --- 4. conversion quality -----------------------------------------------------------------

# Sines at -0.9 dBFS; the sweep runs linearly from 20 Hz to 46 kHz at 96 kHz,
# so everything it plays above 22,050 Hz can only come out as aliases.
amp=0.9
[ -f sine1k.wav ] || "$bin/bench-quality" sine sine1k.wav 48000 1000 2 16 $amp
[ -f sine15k.wav ] || "$bin/bench-quality" sine sine15k.wav 48000 15000 2 16 $amp
[ -f sine1k24.wav ] || "$bin/bench-quality" sine sine1k24.wav 48000 1000 2 24 $amp
[ -f sweep.wav ] || "$bin/bench-quality" sweep sweep.wav 96000 20 46000 10 16 $amp
[ -f ideal1k.wav ] || "$bin/bench-quality" sine ideal1k.wav 44100 1000 2 16 $amp
[ -f ideal15k.wav ] || "$bin/bench-quality" sine ideal15k.wav 44100 15000 2 16 $amp

convert_all() {
    local input=$1
    "$bin/bench-addlayer" "$input.wav" "$input-ours.wav" >/dev/null
    sox "$input.wav" -b 16 "$input-sox.wav" rate 44100
    sndfile-resample -to 44100 -c 0 "$input.wav" "$input-src.wav" >/dev/null
}
snr_row() {
    local label=$1 input=$2 hz=$3 cells="" tool snr level ours="" sox=""
    convert_all "$input"
    for tool in ours sox src; do
        read -r snr level < <("$bin/bench-quality" snr "$input-$tool.wav" "$hz" $amp)
        cells+=" $snr ($level) |"
        [ "$tool" = ours ] && ours=$snr
        [ "$tool" = sox ] && sox=$snr
    done
    echo "| $label |$cells"
    target "SNR no worse than sox's, $label" "$ours dB against $sox dB" \
        "$(awk -v o="$ours" -v s="$sox" 'BEGIN { print (o >= s) ? "met" : "**missed**" }')"
}
echo
echo "## 4. Conversion quality against sox and sndfile-resample (libsamplerate, best sinc)"
echo
echo "SNR in dB of each result against the ideal 44100 Hz sine (the best-fitting amplitude and"
echo "phase; in brackets the level against the ideal amplitude, dB). Ours and sox write 16 bits;"
echo "sndfile-resample keeps the source's depth. The sweep row is the loudest alias (power within"
echo "400 Hz of where the sweep's tone folds to, in 2048-sample stretches) in dB against the sweep."
echo
echo "| Source | ours | sox | sndfile-resample |"
echo "|---|---|---|---|"
snr_row "1 kHz, 48000 Hz 16-bit" sine1k 1000
snr_row "15 kHz, 48000 Hz 16-bit" sine15k 15000
snr_row "1 kHz, 48000 Hz 24-bit" sine1k24 1000
convert_all sweep
cells=""
for tool in ours sox src; do
    cells+=" $("$bin/bench-quality" alias "sweep-$tool.wav" 20 46000 10 $amp 22100) |"
done
echo "| sweep 20 Hz to 46 kHz, 96000 Hz 16-bit: loudest alias above 22.1 kHz |$cells"
read -r ideal1k _ < <("$bin/bench-quality" snr ideal1k.wav 1000 $amp)
read -r ideal15k _ < <("$bin/bench-quality" snr ideal15k.wav 15000 $amp)
echo
echo "For scale: the ideal sines rounded straight to 16 bits at 44100 Hz reach $ideal1k dB (1 kHz)"
echo "and $ideal15k dB (15 kHz)."

# --- 5. waveform strip ---------------------------------------------------------------------

echo
echo "## 5. Waveform strip of a 35-second layer (in-process)"
echo
echo "Medians in ms of 50 runs: the layer's summary (SummarizeSamples, blocks of 256 frames), the"
echo "envelope of the whole layer for a 600-pixel strip (EnvelopeForWidth), and, for scale, the"
echo "layer's levels (MeasureSamples: peak, attack and integrated loudness)."
echo
read -r wave_summary wave_envelope wave_together wave_levels < <("$bin/bench-waveform")
wave_verdict=$(awk -v t="$wave_together" 'BEGIN { print (t <= 20) ? "met" : "**missed**" }')
echo "| summary | envelope | together | target | verdict | levels |"
echo "|---|---|---|---|---|---|"
echo "| $wave_summary | $wave_envelope | $wave_together | 20 | $wave_verdict | $wave_levels |"
target "waveform summary and 600-pixel envelope of a 35 s layer within 20 ms" \
    "$wave_together ms" "$wave_verdict"

# --- 6. zkstool ------------------------------------------------------------------------------

# Short hits as a sample library holds them: half a second of 48000 Hz 24-bit
# stereo, each kit's eight a little different. 64 kits, and the first 16 of
# them again as a library of their own.
make_kit() {
    local folder=$1 seed=$2 k
    mkdir -p "$folder"
    for k in 1 2 3 4 5 6 7 8; do
        [ -f "$folder/hit$k.wav" ] || sox -V1 -r 48000 -n -b 24 -c 2 "$folder/hit$k.wav" \
            synth 0.5 pluck $((110 + 7 * seed + 40 * k)) vol 0.5
    done
}
for n in $(seq -w 1 64); do
    make_kit "lib64/kit$n" $((10#$n))
done
mkdir -p lib16 sox-out
for n in $(seq -w 1 16); do
    [ -d "lib16/kit$n" ] || cp -r "lib64/kit$n" lib16/
done
# The loops sox is run in, as a user would write them.
echo 'for f in lib64/kit01/*.wav; do sox "$f" -b 16 "sox-out/kit01-${f##*/}" rate 44100; done' \
    >sox-kit.sh
echo 'for f in lib64/*/*.wav; do k=${f%/*}; sox "$f" -b 16 "sox-out/${k##*/}-${f##*/}" rate 44100; done' \
    >sox-library.sh
kit=$(echo lib64/kit01/hit{1,2,3,4,5,6,7,8}.wav)

echo
echo "## 6. zkstool against sox in a shell loop"
echo
echo "Medians in ms of whole processes, zkstool and sox run by turns. The inputs are half-second"
echo "48000 Hz 24-bit stereo hits; the loop runs \`sox IN -b 16 OUT rate 44100\` over the same files"
echo "one after another. build-all makes as many banks at once as there are cores ($(nproc) here)."
echo
# zkstool_row LABEL NAME RUNS LIMIT OURS SOX: one row of the table, and its
# target when it has a limit
zkstool_row() {
    local label=$1 name=$2 runs=$3 limit=$4 ours sox r
    alternate "$name" "$runs" ours "$5" sox "$6"
    ours=$(median "$name" ours)
    sox=$(median "$name" sox)
    r=$(ratio "$ours" "$sox")
    echo "| $label | $ours | $sox | $r | ${limit:-none} | $([ -n "$limit" ] && verdict "$r" "$limit" || echo -) |"
    [ -z "$limit" ] || target "zkstool $label within ${limit}x a sox loop over its files" "${r}x" \
        "$(verdict "$r" "$limit")"
}
# The same with the working folders in memory, where the system has a RAM
# disk, to show what the temporary location's file system costs.
shm=$([ -d /dev/shm ] && echo "env TMPDIR=/dev/shm" || true)
echo "| Work | zkstool | sox loop | ratio | target | verdict |"
echo "|---|---|---|---|---|---|"
zkstool_row "build of 8 layers" build 21 1.5 "$bin/zkstool build --force -o kit01.zks $kit" \
    "sh sox-kit.sh"
[ -z "$shm" ] || zkstool_row "build of 8 layers, TMPDIR=/dev/shm" build-shm 21 "" \
    "$shm $bin/zkstool build --force -o kit01.zks $kit" "sh sox-kit.sh"
zkstool_row "build-all of 64 kits (512 files)" build-all 5 0.75 \
    "$bin/zkstool build-all --force lib64 banks64" "sh sox-library.sh"
[ -z "$shm" ] || zkstool_row "build-all of 64 kits (512 files), TMPDIR=/dev/shm" build-all-shm 5 "" \
    "$shm $bin/zkstool build-all --force lib64 banks64" "sh sox-library.sh"

mem16=$(peak_kb "$bin/zkstool" build-all --force lib16 banks16)
mem64=$(peak_kb "$bin/zkstool" build-all --force lib64 banks64)
grows=$(awk -v s="$mem16" -v l="$mem64" 'BEGIN { print (l > 1.2 * s) ? "**yes**" : "no" }')
echo
echo "Peak memory (max RSS, KB) of build-all:"
echo
echo "| 16 kits | 64 kits | grows with the number of kits |"
echo "|---|---|---|"
echo "| $mem16 | $mem64 | $grows |"
target "build-all memory does not grow with the number of kits" \
    "$mem16 KB for 16 kits, $mem64 KB for 64" "$([ "$grows" = no ] && echo met || echo '**missed**')"
qt=$(ldd "$bin/zkstool" | grep -o 'libQt[^ ]*' | sort -u | tr '\n' ' ')
echo
echo "The Qt libraries zkstool loads (ldd): ${qt% }."
echo
echo "## Targets"
echo
echo "| Target | measured | verdict |"
echo "|---|---|---|"
printf '%s\n' "${targets[@]}"
