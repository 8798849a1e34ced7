$VELMORA curves in.jpg out.png --red 0:0,255:255 --green 0:0,128:100,255:255 --blue 0:0,255:255
status=$?
ls
exit $status
