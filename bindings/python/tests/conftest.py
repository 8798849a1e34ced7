import os
import struct
import sys
from pathlib import Path

# The package from this checkout, whatever the working directory.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent))


def write_bmp(path, pixels):
    """A 24-bit BMP of one row of (r, g, b) pixels."""
    width = len(pixels)
    row = b"".join(bytes((b, g, r)) for r, g, b in pixels)
    row += b"\0" * ((4 - len(row) % 4) % 4)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(row), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, 1, 1, 24, 0, len(row), 2835, 2835, 0, 0)
    Path(path).write_bytes(header + info + row)


def read_bmp(path):
    """Pixels (r, g, b, a) of a 24- or 32-bit uncompressed BMP, rows top to bottom."""
    data = Path(path).read_bytes()
    assert data[:2] == b"BM"
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bpp = struct.unpack_from("<H", data, 28)[0]
    step = bpp // 8
    stride = (width * step + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        start = offset + y * stride
        row = []
        for x in range(width):
            px = data[start + x * step: start + (x + 1) * step]
            a = px[3] if step == 4 else 255
            row.append((px[2], px[1], px[0], a))
        rows.append(row)
    if height > 0:
        rows.reverse()
    return [p for r in rows for p in r]
