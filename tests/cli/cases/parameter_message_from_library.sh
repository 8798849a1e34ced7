# What only the library can tell passes through unchanged.
$VELMORA levels in.jpg out.jpg --black 200 --white 100
status=$?
ls
exit $status
