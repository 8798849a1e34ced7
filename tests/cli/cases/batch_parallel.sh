cp in.jpg a.jpg && cp in.jpg b.jpg && cp in.jpg c.jpg
$VELMORA invert a.jpg b.jpg c.jpg -o out --format bmp -j 2
ls out
