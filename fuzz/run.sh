#!/usr/bin/env bash
# Builds the MIDI reader's fuzz target and runs it for a number of seconds (default 600) on a
# working corpus in build-fuzz/corpus, seeded from fuzz/seeds and samples/.
# Usage: bash fuzz/run.sh [seconds] [extra libFuzzer options...]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-600}"
shift || true
build="$root/build-fuzz"

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j1

seeds="$build/seeds"
rm -rf "$seeds"
/usr/bin/python3 "$root/fuzz/make-seeds.py" "$seeds"
cp "$root"/samples/* "$seeds"/
mkdir -p "$build/corpus" "$build/artifacts"

cd "$build"
log="$build/fuzz.log"
set +e
./midiReaderFuzz corpus "$seeds" \
    -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e

echo "---- final"
grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$log" || tail -n 5 "$log"
echo "corpus: $(ls corpus | wc -l) files; exit status $status"
exit "$status"
