# `velmora help` is the command's usage; help takes list, help and version
# as topics too, and every usage line names a command that exists.
$VELMORA help | head -n 2
$VELMORA help list
$VELMORA help version
$VELMORA help help
$VELMORA list extra
echo "[list extra] exit $?"
$VELMORA version x
echo "[version x] exit $?"
$VELMORA help grey
echo "[help grey] exit $?"
