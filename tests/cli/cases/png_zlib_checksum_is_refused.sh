# One byte of a PNG's image data changed and every chunk's CRC made to match:
# the zlib stream's own checksum still tells, and the file is refused.
/usr/bin/python3 - <<'PY'
import struct, zlib
def chunk(t, d):
    return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
raw = b"".join(b"\0" + bytes((x * 30 + y) % 256 for x in range(24)) for y in range(8))
def png(stream):
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", stream) + chunk(b"IEND", b""))
stream = bytearray(zlib.compress(raw, 0))  # stored: any byte of the data may change
open("good.png", "wb").write(png(bytes(stream)))
stream[2 + 5 + 40] ^= 0x10
open("bad.png", "wb").write(png(bytes(stream)))
PY
$VELMORA invert good.png ok.png
echo "exit $?"
$VELMORA invert bad.png out.png
echo "exit $?"
ls
