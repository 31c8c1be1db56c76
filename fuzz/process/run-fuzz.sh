#!/usr/bin/env bash
# Builds and runs the coredump loader's fuzz target from small seed cores of both widths.
# Usage: fuzz/process/run-fuzz.sh BUILD_DIR [RUNS] [BITS]   (default one million runs, 64 bits)
# BUILD_DIR is a clang tree configured with -DFERROVANE_FUZZ=ON (see scripts/fuzz).
set -euo pipefail
build="$1" runs="${2:-1000000}" bits="${3:-64}"
cmake --build "$build" -j "$(nproc)" --target "core_loader_fuzz$bits" core_loader_seeds
seeds="$build/fuzz/core-loader-seeds"
corpus="$build/fuzz/core-loader-corpus$bits"
mkdir -p "$corpus" "$build/fuzz/artifacts"
"$build/fuzz/core_loader_seeds" "$seeds"
"$build/fuzz/core_loader_fuzz$bits" -runs="$runs" -max_len=16384 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz/artifacts/" "$corpus" "$seeds" 2>&1 | tail -n 25
