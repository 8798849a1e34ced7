# One damaged byte in a PNG's image data: refused with the checksum named,
# and no output, where the picture would otherwise come out garbled.
$VELMORA invert in.jpg good.png
/usr/bin/python3 - <<'PY'
data = bytearray(open("good.png", "rb").read())
data[data.index(b"IDAT") + 4 + 1000] ^= 0x10
open("bad.png", "wb").write(data)
PY
$VELMORA invert bad.png out.png
echo "exit $?"
ls
