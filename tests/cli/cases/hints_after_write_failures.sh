# A missing output folder is created; other causes are named.
$VELMORA sepia in.jpg new/folder/out.png && echo "created: $(ls new/folder)"
mkdir taken
$VELMORA sepia in.jpg taken
echo "exit $?"
# A picture wider than JPEG allows.
/usr/bin/python3 -c "
import struct, zlib
w = 70000
raw = b''.join(b'\0' + b'\x80\x40\x20' * w for _ in range(1))
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
open('wide.png', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, 1, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))"
$VELMORA invert wide.png wide.jpg
echo "exit $?"
ls
