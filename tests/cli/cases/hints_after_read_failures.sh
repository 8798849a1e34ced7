# A failed read gets a hint on the input alone, for the cause it has: no
# such file, a folder, an empty file (also on standard input); never one on
# the output (here a folder) that the call did not get to.
mkdir taken folder.jpg
: > empty.jpg
$VELMORA invert missing.jpg taken
$VELMORA invert folder.jpg out.png
$VELMORA invert empty.jpg taken
$VELMORA invert - out.png </dev/null
echo "exit $?"
ls
