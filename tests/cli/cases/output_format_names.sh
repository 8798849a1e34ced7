# Format names in any case, and jpeg; an extension that names no format warns.
$VELMORA sepia in.jpg -o a --format PNG 2>/dev/null
$VELMORA sepia in.jpg -o b --format jpeg 2>/dev/null
$VELMORA sepia in.jpg -o c --format Bmp 2>/dev/null
$VELMORA sepia in.jpg out.webp
$VELMORA sepia in.jpg OUT.JPEG
ls a b c
head -c 2 out.webp | od -An -tx1
