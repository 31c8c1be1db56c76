#!/usr/bin/env bash
# Builds and runs the db text readers' fuzz target, seeded with the text files of the committed
# qemu-made dbs (one seed per file, prefixed with the byte that picks its reader).
# Usage: fuzz/process/run-db-inputs-fuzz.sh BUILD_DIR [RUNS] [BITS]   (default one million runs, 64 bits)
# BUILD_DIR is a clang tree configured with -DFERROVANE_FUZZ=ON (see scripts/fuzz).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$1" runs="${2:-1000000}" bits="${3:-64}"
cmake --build "$build" -j "$(nproc)" --target "db_inputs_fuzz$bits"
seeds="$build/fuzz/db-inputs-seeds"
corpus="$build/fuzz/db-inputs-corpus$bits"
mkdir -p "$seeds" "$corpus" "$build/fuzz/artifacts"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$root/tests/data/arm64-static-nullwrite.tar.zst")
db="$work/arm64-static-nullwrite/db"
seed() { { printf "\\$(printf %03o "$1")"; cat; } > "$seeds/$2"; }
seed 0 internal < "$db/ZZ_INTERNAL"
printf 'lrwx------ root root 2016-01-01 10:00 3 -> /dev/null\nl-wx------ root root 2016-01-01 10:00 4 -> /x\n' | seed 1 fd-old
printf 'lrwx------ 1 root root 64 2020-01-01 10:00 7 -> /dev/binder\n' | seed 129 fd-new
seed 2 processes < "$db/SYS_PROCESSES_AND_THREADS"
seed 3 maps < "$db/PROCESS_MAPS"
seed 4 properties < "$db/SYS_PROPERTIES"
printf '[      400000] : 8000000000012345,801\n[    7ffe0000] : 4000000000000203,0\n' | seed 5 pagemap
"$build/fuzz/db_inputs_fuzz$bits" -runs="$runs" -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz/artifacts/" "$corpus" "$seeds" 2>&1 | tail -n 25
