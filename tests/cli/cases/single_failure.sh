$VELMORA invert missing.jpg out.png
