#!/usr/bin/env python3
"""Writes a catalog source file (UTF-8 C string literals) in a program's output encoding.

The Windows programs print Chinese text in the GBK code page, byte for byte; the POSIX programs
print UTF-8. Sources stay UTF-8; this step runs at build time and writes every non-ASCII
character inside a string literal as octal escapes of its bytes in the target encoding.
"""
import sys


def encode(text: str, encoding: str) -> str:
    if encoding.lower() in ("utf-8", "utf8"):
        return text
    out = []
    for ch in text:
        if ord(ch) < 0x80:
            out.append(ch)
        else:
            out.extend("\\%03o" % b for b in ch.encode(encoding))
    return "".join(out)


def main() -> int:
    if len(sys.argv) != 4:
        print("usage: encode-catalog.py ENCODING INPUT OUTPUT", file=sys.stderr)
        return 2
    encoding, source, target = sys.argv[1:]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    result = encode(text, encoding)
    try:
        with open(target, encoding="ascii" if encoding.lower() not in ("utf-8", "utf8") else "utf-8") as f:
            if f.read() == result:
                return 0  # unchanged: keep the time stamp so nothing rebuilds
    except OSError:
        pass
    with open(target, "w", encoding="utf-8") as f:
        f.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
