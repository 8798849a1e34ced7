# The bar measures names in the columns a terminal gives them (two for wide
# characters, none for combining marks), cuts them between characters, shows
# control characters escaped, and on a narrow terminal cuts the files in
# flight and then the bar, never the time left.
if [ -n "$VELMORA_WINDOWS" ]; then
    echo "Wine's console host redraws a pseudo-terminal itself, a character at a time: the bar's own bytes cannot be read back" >&2
    exit 77
fi
for i in 1 2 3; do
  cp in.jpg "写真の名前はとても長いです-$i.jpg"
  cp in.jpg "$(printf 'cafe\xcc\x81 au lait, line\nbreak-%s.jpg' $i)"
done
/usr/bin/python3 - "$VELMORA" <<'PY'
import fcntl, os, pty, re, shlex, struct, sys, termios, unicodedata
def width(text):
    return sum(0 if unicodedata.combining(c) else
               2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
for columns in (62, 40):
    pid, fd = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        files = sorted(f for f in os.listdir(".") if f.endswith(".jpg") and f != "in.jpg")
        command = shlex.split(sys.argv[1])
        os.execvp(command[0], [*command, "sepia", *files, "-o", f"out{columns}", "-j", "2"])
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
    draws = [re.sub(rb"\x1b\[K", b"", d) for d in out.split(b"\r") if b"/6 " in d]
    texts = []
    for d in draws:
        try:
            texts.append(d.decode("utf-8"))
        except UnicodeDecodeError:
            texts.append(None)
    print(columns, "columns: redraws", "yes" if len(draws) >= 3 else "no")
    print(columns, "columns: whole characters:", None not in texts)
    ok = [t for t in texts if t is not None]
    print(columns, "columns: all fit:", all(width(t.rstrip("\n")) < columns for t in ok))
    print(columns, "columns: no raw control characters:",
          not any(re.search(r"[\x00-\x1f\x7f]", t.rstrip("\n")) for t in ok))
    if columns == 62:
        print("a wide name in flight:", any("写真" in t for t in ok))
    else:
        print("time left kept:", any(" left" in t for t in ok))
PY
printf 'name: %s\n' out62/* | grep -c 'line'
