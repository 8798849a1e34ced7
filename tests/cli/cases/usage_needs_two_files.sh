$VELMORA grayscale in.jpg
