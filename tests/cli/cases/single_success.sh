$VELMORA sepia in.jpg out.png && head -c 4 out.png | od -An -c | tr -s ' '
