# An output that ends in a separator names a folder: a usage error that
# creates nothing. A file in the way of the output's folder fails with one
# message and exit status, for one file and a batch alike.
$VELMORA sepia in.jpg newdir/
echo "[newdir/] exit $?"
$VELMORA invert + sepia in.jpg newdir/
echo "[chain newdir/] exit $?"
touch plain
$VELMORA sepia in.jpg plain/out.jpg
echo "[plain/out.jpg] exit $?"
$VELMORA sepia in.jpg plain/sub/out.jpg
echo "[plain/sub/out.jpg] exit $?"
$VELMORA sepia in.jpg -o plain
echo "[-o plain] exit $?"
$VELMORA sepia in.jpg -o plain/sub
echo "[-o plain/sub] exit $?"
$VELMORA sepia in.jpg -o made/
echo "[-o made/] exit $?"
ls
