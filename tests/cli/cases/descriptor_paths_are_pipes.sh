# /dev/stdout, /dev/fd/N and /proc/self/fd/N as the output are written as -
# is (the library cannot replace a pipe by name). No temporary file is left,
# after a success, a failure or a Ctrl-C while standard input is read, which
# ends the command by the signal.
if [ -n "$VELMORA_WINDOWS" ]; then echo "/dev/stdout and /dev/fd name descriptors on POSIX only" >&2; exit 77; fi
mkdir tmp && export TMPDIR=$PWD/tmp
$VELMORA invert in.jpg expected.jpg
$VELMORA invert in.jpg /dev/stdout | cmp - expected.jpg && echo "/dev/stdout: same"
$VELMORA invert in.jpg /proc/self/fd/1 | wc -c | tr -d ' ' | cmp - <(wc -c <expected.jpg | tr -d ' ') && echo "/proc/self/fd/1: same size"
$VELMORA invert in.jpg /dev/fd/3 3>fd3.jpg && cmp fd3.jpg expected.jpg && echo "/dev/fd/3: same"
$VELMORA invert missing.jpg /dev/stdout | wc -c
# Standard input that never ends, until the Ctrl-C.
/usr/bin/python3 - "$VELMORA" <<'PY'
import os, shlex, signal, subprocess, sys, time
r, w = os.pipe()
p = subprocess.Popen(shlex.split(sys.argv[1]) + ["invert", "-", "out.png"], stdin=r)
for _ in range(100):
    if os.listdir("tmp"):
        break
    time.sleep(0.1)
time.sleep(0.3)
p.send_signal(signal.SIGINT)
print("reading standard input: ended by SIGINT", p.wait() == -signal.SIGINT)
PY
echo "temporary files left: $(ls -A tmp | wc -l)"
ls
