#!/usr/bin/env python3
"""Writes seed inputs of the unwind step fuzz targets (see unwind_step_fuzz.cpp for the layout):
well-formed .eh_frame with its header, .ARM.exidx with .ARM.extab, .debug_frame, prologue code
and DWARF expressions, for 32-bit (CoreSift) or 64-bit (CoreSift64) targets.
Usage: make-seeds.py 32|64 OUT_DIR"""
import os
import struct
import sys

bits = int(sys.argv[1])
out = sys.argv[2]
W = bits // 8
SP, LR, PC = (31, 30, 32) if bits == 64 else (13, 14, 15)
REGS = 33 if bits == 64 else 16
CODE, EH_FRAME, HEADER, EXIDX, EXTAB, STACK = 0x10000, 0x12000, 0x13000, 0x14000, 0x15000, 0x70000


def uleb(v):
    b = bytearray()
    while True:
        c = v & 0x7F
        v >>= 7
        b.append(c | (0x80 if v else 0))
        if not v:
            return bytes(b)


def sleb(v):
    b = bytearray()
    while True:
        c = v & 0x7F
        v >>= 7
        done = (v == 0 and not c & 0x40) or (v == -1 and c & 0x40)
        b.append(c if done else c | 0x80)
        if done:
            return bytes(b)


def entry(body):
    while (len(body) + 4) % W:
        body += b"\0"
    return struct.pack("<I", len(body)) + body


def cie(instructions, eh=True, aug=b"zR"):
    body = struct.pack("<I", 0 if eh else 0xFFFFFFFF) + bytes([1 if eh else 3]) + aug + b"\0"
    body += uleb(4 if bits == 64 else 2) + sleb(-W) + (bytes([LR]) if eh else uleb(LR))
    if aug.startswith(b"z"):
        body += uleb(1) + b"\x1b"
    return entry(body + instructions)


def eh_fde(offset, cie_offset, begin, length, instructions):
    field = EH_FRAME + offset + 8
    body = struct.pack("<Iii", offset + 4 - cie_offset, begin - field, length) + uleb(0) + instructions
    return entry(body)


def debug_fde(cie_offset, begin, length, instructions):
    fmt = "<IQQ" if bits == 64 else "<III"
    return entry(struct.pack(fmt, cie_offset, begin, length) + instructions)


def header(fdes):
    h = bytes([1, 0x1B, 0x03, 0x3B]) + struct.pack("<iI", EH_FRAME - (HEADER + 4), len(fdes))
    for loc, fde in sorted(fdes):
        h += struct.pack("<ii", loc - HEADER, fde - HEADER)
    return h


def seed(name, flags, sections, pc_offset=8, stack_words=256, regs=None):
    regs = regs or {}
    values = [0x100 + r for r in range(REGS)]
    values[SP] = 0x40
    for r, v in regs.items():
        values[r] = v
    data = struct.pack("<BBH", flags, 39 if bits == 64 else 32, pc_offset)
    data += b"".join(struct.pack("<Q" if bits == 64 else "<I", v & ((1 << bits) - 1)) for v in values)
    data += struct.pack("<Q", (1 << REGS) - 1)
    names = ["header", "eh_frame", "exidx", "extab", "debug_frame", "code"]
    data += b"".join(struct.pack("<H", len(sections.get(n, b""))) for n in names)
    data += b"".join(sections.get(n, b"") for n in names)
    data += b"".join(struct.pack("<Q" if bits == 64 else "<I", STACK + 0x1000 + i) for i in range(stack_words))
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


os.makedirs(out, exist_ok=True)
cfa_sp = bytes([0x0C, SP, 0])
programs = {
    "offsets": bytes([0x42, 0x0E, 4 * W, 0x80 | LR, 1, 0x80 | 4, 2]),
    "remember": bytes([0x41, 0x0E, 2 * W, 0x0A, 0x41, 0x0E, 4 * W, 0x80 | LR, 1, 0x41, 0x0B]),
    "expressions": bytes([0x0F, 2, 0x70 + SP, 2 * W, 0x10, LR, 2, 0x70 + SP, 0, 0x16, 5, 3, 0x9C, 0x23, 8]),
    "undefined": bytes([0x07, LR]),
    "registers": bytes([0x09, 5, 6, 0x14, 7, 1, 0x2F, 8, 1, 0x08, 9, 0x12, SP]) + sleb(-2),
}
for name, program in programs.items():
    eh = cie(cfa_sp)
    offset = len(eh)
    eh += eh_fde(offset, 0, CODE, 0x100, program)
    eh += b"\0\0\0\0"
    seed("eh_frame_" + name, 0x47, {"eh_frame": eh, "header": header([(CODE, EH_FRAME + offset)])})
    seed("eh_frame_walked_" + name, 0x46, {"eh_frame": eh})
    debug = cie(cfa_sp, eh=False, aug=b"")
    debug += debug_fde(0, 0, 0x100, program)
    seed("debug_frame_" + name, 0x40, {"debug_frame": debug})

if bits == 32:
    def prel31(frm, to):
        return (to - frm) & 0x7FFFFFFF
    index = struct.pack("<II", prel31(EXIDX, CODE), 0x80A8B0B0)
    index += struct.pack("<II", prel31(EXIDX + 8, CODE + 0x40), prel31(EXIDX + 12, EXTAB))
    index += struct.pack("<II", prel31(EXIDX + 16, CODE + 0x80), 1)
    index += struct.pack("<II", prel31(EXIDX + 24, CODE + 0xC0), prel31(EXIDX + 28, EXTAB + 8))
    extab = struct.pack(">II", 0x8101B2FF, 0x03AFB0B0) + struct.pack("<I", 0x7FFFF000) + struct.pack(">II", 0x01978400, 0xB1038FFF)
    for pc in (8, 0x48, 0x88, 0xC8):
        seed("exidx_%x" % pc, 0x40, {"exidx": index, "extab": extab}, pc_offset=pc,
             regs={7: STACK + 0x80})
    code = struct.pack("<5I", 0xE92D4810, 0xE28DB004, 0xE24DD010, 0xE1A04000, 0xEB000040)
else:
    code = struct.pack("<6I", 0xA9BE7BFD, 0x910003FD, 0xF9000BF3, 0xD10103FF, 0xAA0003F3, 0x94000040)
seed("prologue", 0x40, {"code": code}, pc_offset=16)
expression = bytes([0x70 + SP, 8, 0x06, 0x31, 0x22, 0x12, 0x28, 2, 0, 0x30, 0x96, 0x93, 4, 0x9F])
seed("expression", 0x60, {"debug_frame": expression})
