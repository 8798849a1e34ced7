# The bar on a terminal 60 columns wide: every redraw fits, and it shows the
# count, the percentage and the files in flight; on a pipe only the summary.
if [ -n "$VELMORA_WINDOWS" ]; then
    echo "Wine's console host redraws a pseudo-terminal itself, a character at a time: the bar's own bytes cannot be read back" >&2
    exit 77
fi
for i in 1 2 3 4 5 6; do cp in.jpg photo-with-a-long-name-$i.jpg; done
/usr/bin/python3 - "$VELMORA" <<'PY'
import fcntl, os, pty, re, shlex, struct, sys, termios
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 60, 0, 0))
    files = sorted(f for f in os.listdir(".") if f.startswith("photo-"))
    command = shlex.split(sys.argv[1])  # the program after its exec prefix, if any
    os.execvp(command[0], [*command, "sepia", *files, "-o", "out", "-j", "2"])
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
text = out.decode()
draws = [re.sub(r"\x1b\[K", "", d) for d in re.split(r"\r", text) if "[" in d and "/6" in d]
print("redraws:", "yes" if len(draws) >= 2 else "no")
print("all fit in 60 columns:", all(len(d.rstrip("\n")) < 60 for d in draws))
print("shows count and percentage:", any(re.search(r"\d/6 \d+%", d) for d in draws))
print("shows a file in flight:", any("photo-" in d for d in draws))
print("summary:", text.strip().splitlines()[-1].split("\r")[-1].replace("\x1b[K", ""))
PY
$VELMORA sepia photo-*.jpg -o piped 2>&1 | cat
