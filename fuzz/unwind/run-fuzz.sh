#!/usr/bin/env bash
# Builds the unwind step fuzz targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer,
# every library instrumented) into build-fuzz/ and runs one of them.
#   fuzz/unwind/run-fuzz.sh 32|64 [libFuzzer options...]     e.g. fuzz/unwind/run-fuzz.sh 64 -runs=1000000
# Seeds come from make-seeds.py; the corpus grows in build-fuzz/corpus/unwind_step_BITS/, findings
# land in build-fuzz/artifacts/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
bits="${1:-64}"
[ $# -gt 0 ] && shift
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ferrovane-ccache}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFERROVANE_FUZZ=ON -DFERROVANE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "unwind_step_fuzz$bits"

seeds="$root/build-fuzz/seeds/unwind_step_$bits"
corpus="$root/build-fuzz/corpus/unwind_step_$bits"
mkdir -p "$corpus" "$root/build-fuzz/artifacts"
python3 "$root/fuzz/unwind/make-seeds.py" "$bits" "$seeds"
target="$(find "$root/build-fuzz" -name "unwind_step_fuzz$bits" -type f -perm -u+x | head -1)"
exec "$target" -max_len=16384 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$root/build-fuzz/artifacts/" -print_final_stats=1 \
  "$@" "$corpus" "$seeds"
