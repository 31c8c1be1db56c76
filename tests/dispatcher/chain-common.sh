# Helpers shared by the chain tests: db folders, containers and checks.

fail() { echo "FAIL: $*" >&2; exit 1; }
expect_contains() {  # TEXT NEEDLE WHAT
  case "$1" in *"$2"*) ;; *) printf 'FAIL: %s\n--- got ---\n%s\n--- wanted a part ---\n%s\n' "$3" "$1" "$2" >&2; exit 1 ;; esac
}

# Writes a coredump into a db folder: a real ARM core from the shared fixtures when they are
# there, else an ELF header of the class (1 or 2).
write_core() {  # FOLDER CLASS
  local fixtures="$SOURCE_DIR/../shared/fixtures"
  if [ "$2" = 1 ] && [ -f "$fixtures/lldb-elfcore/linux-arm.core" ]; then
    cp "$fixtures/lldb-elfcore/linux-arm.core" "$1/PROCESS_COREDUMP"
  elif [ "$2" = 2 ] && [ -f "$fixtures/elfutils/tests/backtrace.aarch64.core.bz2" ]; then
    bzip2 -dc "$fixtures/elfutils/tests/backtrace.aarch64.core.bz2" > "$1/PROCESS_COREDUMP"
  else
    python3 -c "import sys; sys.stdout.buffer.write(b'\x7fELF' + bytes([$2, 1, 1]) + bytes(57))" > "$1/PROCESS_COREDUMP"
  fi
  chmod u+w "$1/PROCESS_COREDUMP"
}

# Writes a packed db container (version 17) with the named entries, each "NAME=DATA" or just
# "NAME" (the data is then the name).
write_container() {  # FILE NAME...
  python3 - "$@" <<'PY'
import struct, sys
path, names = sys.argv[1], sys.argv[2:]
table = 48 + 64 * len(names)
header = struct.pack("<III", 0x7B40DEAD, 17, table) + bytes(36)
entries, data = b"", b""
for entry in names:
    name, _, body = entry.partition("=")
    body = (body or name).encode()
    entries += struct.pack("<IIIIII", 0, 1, table + len(data), len(body), 0, 0) + bytes(8)
    entries += name.encode()[:32].ljust(32, b"\0")
    data += body
open(path, "wb").write(header + entries + data)
PY
}

# Prints what a stub analyzer recorded: "folder=..." then one "arg=..." line per argument.
stub_record() {  # FOLDER
  python3 - "$1/stub-run.txt" <<'PY'
import sys
text = open(sys.argv[1], "rb").read().decode("utf-8", "replace")
at = 0
while at < len(text):
    space = text.index(" ", at); colon = text.index(":", space)
    n = int(text[space + 1:colon]); value = text[colon + 1:colon + 1 + n]
    print(text[at:space] + "=" + value)
    at = colon + 1 + n + 1
PY
}
