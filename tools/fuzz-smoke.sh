#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for a short,
# bounded time from its committed seeds. New inputs go to a scratch folder, so
# the committed corpus stays as it is.
#   tools/fuzz-smoke.sh [SECONDS]      default 20 s per target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  echo "== $target (${seconds}s)"
  mkdir -p "$scratch/$target"
  "build/fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="build/fuzz/$target-" "$scratch/$target" "$corpus"
done
echo "fuzz smoke: all targets ran clean"
