$VELMORA grayscale in.jpg -o out && head -c 2 out/in.jpg | od -An -tx1
