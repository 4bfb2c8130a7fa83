#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole road against a
# simulated unit: identification, firmware update, restart, configuration
# read (blank: invalid) and the write of the default configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec ./build/bin/vyotool-cli demo
