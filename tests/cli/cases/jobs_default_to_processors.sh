# Without -j a batch runs as many files at once as there are processors: on
# a terminal the progress line shows two files in flight together.
if [ -n "$VELMORA_WINDOWS" ]; then
    echo "Wine's console host redraws a pseudo-terminal itself, a character at a time: the bar's own bytes cannot be read back" >&2
    exit 77
fi
if [ "$(nproc)" -lt 2 ]; then echo "one processor: one file at a time is the default" >&2; exit 77; fi
for i in 1 2 3 4; do cp in.jpg p$i.jpg; done
/usr/bin/python3 - "$VELMORA" <<'PY'
import fcntl, os, pty, shlex, struct, sys, termios
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    command = shlex.split(sys.argv[1])
    os.execvp(command[0], [*command, "sepia", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "-o", "out"])
out = b""
while True:
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
os.waitpid(pid, 0)
print("two files in flight at once:", b"p1.jpg, p2.jpg" in out)
PY
ls out
