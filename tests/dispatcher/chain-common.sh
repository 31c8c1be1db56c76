# Helpers shared by the chain tests: db folders, containers and checks.

fail() { echo "FAIL: $*" >&2; exit 1; }
expect_contains() {  # TEXT NEEDLE WHAT
  case "$1" in *"$2"*) ;; *) printf 'FAIL: %s\n--- got ---\n%s\n--- wanted a part ---\n%s\n' "$3" "$1" "$2" >&2; exit 1 ;; esac
}

# Writes just an ELF header of the class (1 or 2): enough for the classification.
write_elf_header() {  # FILE CLASS
  python3 -c "import sys; sys.stdout.buffer.write(b'\x7fELF' + bytes([$2, 1, 1]) + bytes(57))" > "$1"
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

# Copies a committed exception db (unpacked in the build tree) into FOLDER.
copy_test_db() {  # NAME FOLDER
  [ -d "$TEST_DATA/$1/db" ] || fail "no unpacked test db $TEST_DATA/$1/db"
  mkdir -p "$2" && cp -R "$TEST_DATA/$1/db/." "$2/"
}

# Checks that the analyzer wrote the db's report and that it reads as its golden text (line ends
# aside: the Windows build writes CR LF).
expect_golden_report() {  # FOLDER NAME EXT
  local report="$1/AnalysisReport.txt" golden="$SOURCE_DIR/tests/data/golden/$2.ext$3.txt"
  [ -s "$report" ] || fail "no AnalysisReport.txt was written in $1"
  diff -u "$golden" <(tr -d '\r' < "$report") >&2 || fail "the report of $2 differs from $golden"
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
