$VELMORA help sepia | head -n 1
$VELMORA help | head -n 1
$VELMORA version
$VELMORA --version
