# SIGTERM and SIGHUP stop a batch as Ctrl-C does, with 128 + the signal;
# nothing half-written is left.
for i in $(seq 1 60); do cp in.jpg f$i.jpg; done
for sig in TERM HUP; do
  $VELMORA invert f*.jpg -o out-$sig --format png -j 2 2>/dev/null &
  pid=$!
  sleep 0.5
  kill -$sig $pid
  wait $pid
  echo "$sig: exit $?"
  echo "stray files: $(ls -A out-$sig | grep -vc '\.png$')"
  for f in out-$sig/*.png; do head -c 8 "$f" | cmp -s - <(printf '\211PNG\r\n\032\n') || echo "bad file $f"; done
done
# A second Ctrl-C stops at once and leaves no partial file either (large
# pictures, so that the files are still in flight).
/usr/bin/python3 -c "
import os, struct, zlib
w, h = 3000, 2000
raw = b''.join(b'\0' + os.urandom(3 * w) for _ in range(h))
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
open('big1.png', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 1)) + chunk(b'IEND', b''))"
for i in 2 3 4; do cp big1.png big$i.png; done
$VELMORA invert big*.png -o out-twice -j 2 2>/dev/null &
pid=$!
sleep 0.5
kill -INT $pid; sleep 0.2; kill -INT $pid
wait $pid
echo "twice: exit $?"
echo "stray files: $(ls -A out-twice | grep -vc '\.png$')"
for f in $(ls out-twice | grep "\.png$"); do head -c 8 "out-twice/$f" | cmp -s - <(printf '\211PNG\r\n\032\n') || echo "bad file $f"; done
# A single file whose output is complete exits 0 although Ctrl-C came.
$VELMORA invert in.jpg one.png &
pid=$!
sleep 0.05
kill -INT $pid
wait $pid
status=$?
if [ $status = 0 ]; then [ -s one.png ] && echo "single: written, exit 0"; else echo "single: stopped, exit $status, $(ls one.png 2>/dev/null | wc -l) file"; fi
