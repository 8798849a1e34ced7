$VELMORA brightness in.jpg out.jpg --value 101
status=$?
ls
exit $status
