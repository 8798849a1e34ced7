# A second Ctrl-C stops a batch at once: the workers are ended mid-file, and
# neither a partial output nor a temporary file is left; one file stops at
# the first. (Wine turns the SIGINT into the console's Ctrl-C for the Windows
# program; there the library's temporary file has a name while it is
# written, and the stop waits for it so that it comes mid-write.)
# Noise, the slowest picture to write, made large enough that it is still
# being written when the second signal comes (0.5 s): no file of the batch
# can be whole by then unless the workers were let run on.
noise_png() {
    /usr/bin/python3 -c "
import os, struct, sys, zlib
w, h = int(sys.argv[2]), int(sys.argv[3])
raw = b''.join(b'\0' + os.urandom(3 * w) for _ in range(h))
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
open(sys.argv[1], 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 1)) + chunk(b'IEND', b''))" "$@"
}
noise_png single-in.png 6000 4000
for i in 1 2; do ln single-in.png big$i.png; done
mid_write() {
    if [ -z "$VELMORA_WINDOWS" ]; then sleep 0.3; return; fi
    for _ in $(seq 1 100); do
        ls -A "$1" 2>/dev/null | grep -q '^\.velmora-.*\.tmp$' && return
        sleep 0.1
    done
}
whole_pngs() {
    for f in "$@"; do
        [ -e "$f" ] || continue
        tail -c 8 "$f" | od -An -c | grep -q 'I   E   N   D' || echo "not a whole PNG: $f"
    done
}
$VELMORA invert big*.png -o out -j 2 2>err.txt &
pid=$!
mid_write out; kill -INT $pid; sleep 0.2; kill -INT $pid
wait $pid
echo "batch: exit $?, files left that are not PNG: $(ls -A out | grep -vc '\.png$')"
whole_pngs out/*.png
tail -n 1 err.txt

# The first has ended it: the second finds it gone, or ended already.
$VELMORA invert single-in.png single.png &
pid=$!
mid_write .; kill -INT $pid; sleep 0.2; kill -INT $pid 2>/dev/null
wait $pid
echo "single, twice: exit $?, $(ls -A | grep -c 'single\.png\|velmora') files"

# One Ctrl-C ends one file mid-write: nothing of it is left.
$VELMORA invert single-in.png whole.png &
pid=$!
mid_write .; kill -INT $pid
wait $pid
echo "single, once: exit $?, $(ls whole.png 2>/dev/null | wc -l) written, $(whole_pngs whole.png | grep -c .) broken, $(ls -A | grep -c velmora) temporary"
