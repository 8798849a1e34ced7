$VELMORA grayscale in.jpg out.png --format png
status=$?
ls
exit $status
