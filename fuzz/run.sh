#!/usr/bin/env bash
# Builds one fuzz target and runs it for a number of seconds (default 600; 0 runs until
# libFuzzer stops on its own, e.g. after -runs=N) on a working corpus in
# build-fuzz/corpus/TARGET, seeded from fuzz/seeds/TARGET (and samples/ for the MIDI reader).
# Usage: bash fuzz/run.sh [TARGET] [seconds] [extra libFuzzer options...]
#   TARGET: midiReaderFuzz (the default), settingsFileFuzz, listFileFuzz, replyReadersFuzz,
#           serviceRequestFuzz
# Exits with the target's status: non-zero when it found a crash or a broken invariant,
# whose input is kept in build-fuzz/artifacts/TARGET/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
target=midiReaderFuzz
if [ $# -gt 0 ] && [[ ! "$1" =~ ^[0-9]+$ ]] && [[ "$1" != -* ]]; then
    target="$1"
    shift
fi
seconds="${1:-600}"
shift || true

# The longest input each target is given: a few hundred bytes walk every path of the text
# readers; longer ones only make each run slower. A settings file's keys are looked up once
# per line read, so its time grows with the square of its lines: a quarter kilobyte holds a
# dozen lines and keeps a run near 150 microseconds.
case "$target" in
midiReaderFuzz) max_len=4096 ;;
settingsFileFuzz) max_len=256 ;;
listFileFuzz) max_len=1024 ;;
replyReadersFuzz) max_len=512 ;;
serviceRequestFuzz) max_len=1024 ;;
*)
    echo "fuzz/run.sh: no fuzz target $target" >&2
    exit 2
    ;;
esac

build="$root/build-fuzz"
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 --target "$target"

seeds=("$root/fuzz/seeds/$target")
if [ "$target" = midiReaderFuzz ]; then
    seeds+=("$root/samples")
fi
corpus="$build/corpus/$target"
artifacts="$build/artifacts/$target"
mkdir -p "$corpus" "$artifacts"

cd "$build"
log="$build/$target.log"
set +e
"./$target" "$corpus" "${seeds[@]}" \
    -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e

echo "---- final"
grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$log" || tail -n 5 "$log"
echo "$target corpus: $(ls "$corpus" | wc -l) files; exit status $status"
exit "$status"
