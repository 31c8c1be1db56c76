#!/usr/bin/env python3
"""Draws Setting's icon (three sliders on a blue tile) as a Windows .ico with 16 and 32 pixel images."""
import struct
import sys


def pixel(x: float, y: float) -> tuple:
    """Colour (b, g, r, a) at a point of the 32-unit design."""
    if not (2 <= x < 30 and 2 <= y < 30):
        return (0, 0, 0, 0)
    for i, knob in enumerate((20, 10, 16)):
        centre = 8 + 8 * i
        if 7 <= x < 25 and centre - 1 <= y < centre + 1:
            return (255, 255, 255, 255)
        if knob - 2 <= x < knob + 2 and centre - 3 <= y < centre + 3:
            return (255, 255, 255, 255)
    return (181, 97, 41, 255)


def image(size: int) -> bytes:
    scale = 32 / size
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel((x + 0.5) * scale, (y + 0.5) * scale)) for x in range(size)))
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main() -> int:
    sizes = (16, 32)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
