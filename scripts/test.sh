#!/usr/bin/env bash
# Installs what Tonvert needs, builds everything, runs every test and checks the Debian
# packages (scripts/package-test.sh); then builds the network layer once more with
# ThreadSanitizer and runs its tests there, and runs every fuzz target briefly from its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Craft gates: the C++ sources keep the project's formatting (a drift fails the run), and
# functions over 120 lines are reported.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
/usr/bin/python3 scripts/long-functions.py $(git ls-files 'src/*.cpp' 'server/*.cpp' 'render/*.cpp' 'tools/*.cpp')
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
# The Debian packages of that build, installed, started, and removed again.
bash scripts/package-test.sh

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DTONVERT_BUILD_CLIENT=OFF -DTONVERT_BUILD_BENCH=OFF
cmake --build build-tsan -j2 --target net_test transfer_test
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/tests/net_test
build-tsan/tests/transfer_test

# Each reader of outside input under libFuzzer with ASan and UBSan, for a short while: a
# broken invariant or a crash fails the run (the input is kept in build-fuzz/artifacts/).
mkdir -p build-fuzz
for target in midiReaderFuzz settingsFileFuzz listFileFuzz replyReadersFuzz serviceRequestFuzz; do
  log="build-fuzz/$target.out"
  if ! bash fuzz/run.sh "$target" 20 >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz target $target failed" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 | sed "s/^/$target: /"
done
