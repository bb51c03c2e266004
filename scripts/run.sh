#!/usr/bin/env bash
# `make run`: the program under Wine (on Xvfb when there is no display) with the simulated
# unit on COM1. VARIANT=operator (default) or service; see scripts/run_program.py.
set -euo pipefail
cd "$(dirname "$0")/.."
export VARNEX_BUILD_DIR=$(realpath -m "${1:-build}")
exec python3 scripts/run_program.py
