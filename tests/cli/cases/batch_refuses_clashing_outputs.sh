mkdir x y && cp in.jpg x/p.jpg && cp in.jpg y/p.jpg
$VELMORA invert x/p.jpg y/p.jpg -o out
