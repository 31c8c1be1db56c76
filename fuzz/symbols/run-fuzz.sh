#!/usr/bin/env bash
# Builds the debugging-information fuzz target (clang, AddressSanitizer + UndefinedBehaviorSanitizer,
# every library instrumented) into build-fuzz/ and runs it from seeds made of the debug sections of
# the project's cross-compiled libraries.
#   fuzz/symbols/run-fuzz.sh [RUNS] [libFuzzer options...]      (default one million runs)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
runs="${1:-1000000}"
[ $# -gt 0 ] && shift
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ferrovane-ccache}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFERROVANE_FUZZ=ON -DFERROVANE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target dwarf_fuzz

seeds="$root/build-fuzz/seeds/dwarf"
corpus="$root/build-fuzz/corpus/dwarf"
mkdir -p "$seeds" "$corpus" "$root/build-fuzz/artifacts"
if [ ! -f "$seeds/.done" ]; then
  libs="$root/build-fuzz/seeds/symbol-libs"
  "$root/tests/symbols/data/make-symbol-fixtures" "$root/tests/symbols/data" "$libs" >/dev/null
  # The layout-fact libraries too, so that units carry the names the fact groups look for.
  "$root/tests/symbols/data/make-layout-fixtures" "$root/tests/symbols/data" "$libs/layouts" >/dev/null 2>&1
  python3 - "$libs" "$seeds" <<'PY'
import os, struct, subprocess, sys, tempfile
libs, out = sys.argv[1], sys.argv[2]
folders = [os.path.join(libs, a) for a in sorted(os.listdir(libs))]
folders += [os.path.join(libs, "layouts", a) for a in sorted(os.listdir(os.path.join(libs, "layouts")))]
names = [".debug_info", ".debug_abbrev", ".debug_str", ".debug_str_offsets", ".debug_rnglists", ".debug_ranges",
         ".debug_loclists", ".debug_loc", ".debug_line", ".debug_line_str", ".debug_aranges", ".debug_addr", ".debug_types"]
n = 0
for folder in folders:
    arch = os.path.basename(folder)
    if not os.path.isdir(folder) or arch == "layouts": continue
    for lib in sorted(os.listdir(folder)):
        if not lib.endswith(".so") or lib == "libsym_zlib.so": continue
        parts = []
        for name in names:
            with tempfile.TemporaryDirectory() as t:
                dumped = os.path.join(t, "section")
                subprocess.run(["objcopy", "--dump-section", name + "=" + dumped, os.path.join(folder, lib), os.path.join(t, "copy")],
                               stderr=subprocess.DEVNULL)
                parts.append(open(dumped, "rb").read()[:65535] if os.path.exists(dumped) else b"")
        head = bytes([1 if arch == "arm64" else 0]) + b"".join(struct.pack("<H", len(p)) for p in parts)
        open(os.path.join(out, "seed-%d" % n), "wb").write(head + b"".join(parts))
        n += 1
PY
  touch "$seeds/.done"
fi
exec "$root/build-fuzz/bin/dwarf_fuzz" -runs="$runs" -max_len=32768 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$root/build-fuzz/artifacts/" \
  -print_final_stats=1 "$@" "$corpus" "$seeds"
