# A filesystem of 64 KiB cannot take the picture as BMP: the hint names the
# cause, for one file and for a worker of a batch, although the failed call
# has already given the space back.
if [ -n "$VELMORA_WINDOWS" ]; then echo "needs a Linux tmpfs mount" >&2; exit 77; fi
mkdir small
unshare -m true 2>/dev/null || { echo "cannot make a mount namespace here" >&2; exit 77; }
cp in.jpg b.jpg
unshare -m bash -c '
    mount -t tmpfs -o size=64k tmpfs small 2>/dev/null || exit 77
    $0 invert in.jpg small/out.bmp
    echo "exit $?"
    $0 invert in.jpg b.jpg -o small --format bmp -j 2 2>&1 | sort
    ls -A small' $VELMORA
[ $? = 77 ] && { echo "cannot mount a tmpfs here" >&2; exit 77; }
exit 0
