#!/usr/bin/env bash
# Builds and runs the module list's fuzz target.
# Usage: fuzz/modules/run-fuzz.sh BUILD_DIR [RUNS] [BITS]   (default 300000 runs, 64 bits)
# BUILD_DIR is a clang tree configured with -DFERROVANE_FUZZ=ON (see scripts/fuzz).
set -euo pipefail
build="$1" runs="${2:-300000}" bits="${3:-64}"
cmake --build "$build" -j "$(nproc)" --target "module_list_fuzz$bits"
corpus="$build/fuzz/module-list-corpus$bits"
mkdir -p "$corpus" "$build/fuzz/artifacts"
"$build/fuzz/module_list_fuzz$bits" -runs="$runs" -max_len=12288 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz/artifacts/" "$corpus" 2>&1 | tail -n 25
