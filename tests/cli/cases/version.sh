$VELMORA --version
