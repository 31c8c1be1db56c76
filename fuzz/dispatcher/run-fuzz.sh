#!/usr/bin/env bash
# Runs the container fuzz target from a seed corpus of well-formed and hostile containers.
# Usage: run-fuzz.sh BUILD_DIR [RUNS]   (default one million runs)
set -euo pipefail
build="$1" runs="${2:-1000000}"
corpus="$build/fuzz/container-corpus"
mkdir -p "$corpus"
python3 - "$corpus" <<'PY'
import os, struct, sys
out = sys.argv[1]
def container(version, entries, table_end=None):
    start = 40 if version == 16 else 48
    end = start + 64 * len(entries)
    head = struct.pack("<III", 0x7B40DEAD, version, end if table_end is None else table_end)
    head = head.ljust(start, b"\0")
    table, data = b"", b""
    for name, body, scrambled in entries:
        table += struct.pack("<IIIIII", 0, 1, end + len(data), len(body), 0, scrambled) + bytes(8)
        table += name.ljust(32, b"\0")[:32]
        data += body
    return head + table + data
seeds = {
    "v16": container(16, [(b"PROCESS_COREDUMP", b"\x7fELF\x02" + bytes(11), 0)]),
    "v17": container(17, [(b"ZZ_INTERNAL", b"Native (NE)", 1), (b"SYS_KERNEL_LOG", b"log", 0)]),
    "v18": container(18, [(b"../escape", b"x", 0), (b"A" * 32, b"y", 1)]),
    "end": container(17, [(b"F", b"z", 0)], table_end=0xFFFFFFFF),
}
for name, data in seeds.items():
    open(os.path.join(out, name), "wb").write(data)
PY
"$build/fuzz/container_fuzz" -runs="$runs" -max_len=4096 -print_final_stats=1 "$corpus" 2>&1 | tail -n 25
