#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end tests with the short fault soak, the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for
# a bounded time (FUZZ_SECONDS, default 30). Ends with one line counting the
# test cases of both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest --test-dir build --output-on-failure -j2 --timeout 300 | tee "$log"
bash scripts/sanitize.sh | tee -a "$log"
bash scripts/fuzz.sh
# ctest's summaries: "100% tests passed, 0 tests failed out of 157"
awk '/tests passed, [0-9]+ tests failed out of/ { failed += $4; total += $NF }
     END { printf "tests: %d passed, %d failed\n", total - failed, failed }' "$log"
