#!/usr/bin/env python3
"""Draws Textures/Crosshairsnew2.tga: the probe marker of the view's 2-D overlay.

An uncompressed 32-bit TGA (type 2, origin bottom left), 64 x 64 pixels: a red ring with a
cross and a gap in the middle, fully opaque; everything else white and fully transparent.
The overlay multiplies the picture into the frame and keeps only opaque texels, so the
marker darkens what lies under it and the rest of the square leaves the frame untouched.

    tools/make_crosshair.py [OUTPUT]   (default: Textures/Crosshairsnew2.tga)
"""
import math
import struct
import sys
from pathlib import Path

SIZE = 64
LINE = (200, 16, 16)  # RGB of the marker
CENTRE = (SIZE - 1) / 2.0
RING_RADIUS, RING_HALF_WIDTH = 24.0, 1.6
ARM_HALF_WIDTH, GAP = 1.1, 6.0


def opaque(x: int, y: int) -> bool:
    dx, dy = x - CENTRE, y - CENTRE
    r = math.hypot(dx, dy)
    if abs(r - RING_RADIUS) <= RING_HALF_WIDTH:
        return True
    on_arm = abs(dx) <= ARM_HALF_WIDTH or abs(dy) <= ARM_HALF_WIDTH
    return on_arm and GAP <= r <= RING_RADIUS + 6.0


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "Textures" / "Crosshairsnew2.tga"
    # id length, colour map type, image type 2, no colour map (five zero bytes), origin (0, 0),
    # width, height, 32 bits per pixel, descriptor: 8 alpha bits, bottom-left origin.
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, 32, 8)
    pixels = bytearray()
    for y in range(SIZE):  # bottom row first
        for x in range(SIZE):
            if opaque(x, y):
                r, g, b = LINE
                pixels += bytes((b, g, r, 255))
            else:
                pixels += bytes((255, 255, 255, 0))
    out.write_bytes(header + bytes(pixels))
    print(f"{out}: {SIZE} x {SIZE}, {len(header) + len(pixels)} bytes")


if __name__ == "__main__":
    main()
