#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end tests with the short fault soak, the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for
# a bounded time (FUZZ_SECONDS, default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j2 --timeout 300
bash scripts/sanitize.sh
bash scripts/fuzz.sh
