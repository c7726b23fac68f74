#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh            debug build (preset "dev")
#   ./test.sh asan       the same suite under AddressSanitizer + UBSan
set -euo pipefail
cd "$(dirname "$0")"
preset="${1:-dev}"
./tools/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
