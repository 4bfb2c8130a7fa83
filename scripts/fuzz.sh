#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one
# for FUZZ_SECONDS seconds (default 30) with AddressSanitizer and
# UndefinedBehaviorSanitizer, starting from a copy of its seed corpus
# (fuzz/corpus/<target>/ stays as committed; the copy, the logs and any
# failing input go to fuzz/corpus-run/). A crash, a leak, a hang or a broken
# invariant makes the exit status non-zero.
#
#   FUZZ_SECONDS=300 bash scripts/fuzz.sh [target...]
#
# A saved failing input replays with: build-fuzz/bin/fuzz_<target> FILE
# (VYO_FUZZ_TRACE=1 makes fuzz_session tell what happens step by step).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
jobs="${JOBS:-2}"
build=build-fuzz
run=fuzz/corpus-run
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(session record identification panel_json)

# The compiler is chosen when the directory is first configured.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVYO_FUZZ=ON -DVYO_BUILD_TESTS=OFF -DVYO_BUILD_APPS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

mkdir -p "$run/crashes"
status=0
for t in "${targets[@]}"; do
  corpus="$run/$t"
  log="$run/$t.log"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp fuzz/corpus/"$t"/* "$corpus"/
  args=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
        -artifact_prefix="$run/crashes/$t-")
  [ -f "fuzz/$t.dict" ] && args+=(-dict="fuzz/$t.dict")
  if "$build/bin/fuzz_$t" "${args[@]}" "$corpus" >"$log" 2>&1; then
    execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    echo "fuzz: $t: $execs executions in $seconds s, corpus $(ls "$corpus" | wc -l) inputs"
  else
    echo "fuzz: $t: FAILED (log $log, input in $run/crashes/)"
    grep -E "invariant violated|ERROR: |SUMMARY: |runtime error" "$log" | head -n 10 || true
    status=1
  fi
done
exit "$status"
