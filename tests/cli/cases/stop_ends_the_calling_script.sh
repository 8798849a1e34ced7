# Ctrl-C, which reaches the whole foreground process group, stops a shell
# loop that runs the command, for one file and for a batch: the command ends
# by the signal once it has cleaned up, so the shell stops too instead of
# going on to the next iteration. SIGTERM and SIGHUP end it by theirs.
if [ -n "$VELMORA_WINDOWS" ]; then
    echo "a Windows program ends with an exit status, never by a signal, so the calling shell cannot tell a stop from it" >&2
    exit 77
fi
/usr/bin/python3 -c "
import os, struct, zlib
w, h = 4000, 3000
raw = b''.join(b'\0' + os.urandom(3 * w) for _ in range(h))
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
open('big.png', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 1)) + chunk(b'IEND', b''))"
ln big.png big2.png
cat > loop.sh <<'LOOP'
for d in a b; do
    echo "$1: started $d" >>log
    if [ "$1" = one ]; then $VELMORA invert big.png out-$d.png
    else $VELMORA invert big.png big2.png -o $d -j 2; fi
done
LOOP
# Once the command has started and had time to take the stop signals.
wait_for_command_under() {
    for _ in $(seq 1 100); do pgrep -P "$1" velmora >/dev/null && break; sleep 0.1; done
    sleep 0.3
}
# Each job a process group of its own, taking Ctrl-C as in a terminal (the
# shell's notices of jobs ended are left out). A batch finishes the files in
# progress at the first Ctrl-C.
set -m
for kind in one batch; do
    bash loop.sh $kind 2>>err.txt &
    pid=$!
    wait_for_command_under $pid
    kill -INT -- -$pid
    wait $pid
    echo "$kind: exit $?"
done 2>/dev/null
cat log err.txt
ls -A | grep -v '^big\|^loop\|^log\|^err\.txt\|^in\.jpg$'
set +m
# How the command itself ended: -N is by signal N.
for sig in TERM HUP; do
    /usr/bin/python3 - "$sig" $VELMORA invert big.png big2.png -o $sig -j 2 <<'PY'
import os, signal, subprocess, sys, time
sig = getattr(signal, "SIG" + sys.argv[1])
p = subprocess.Popen(sys.argv[2:], stderr=subprocess.DEVNULL)
for _ in range(100):
    if os.path.isdir(sys.argv[1]):
        break
    time.sleep(0.1)
time.sleep(0.3)
p.send_signal(sig)
print(sys.argv[1] + ": ended by signal", -p.wait() == sig)
PY
done
