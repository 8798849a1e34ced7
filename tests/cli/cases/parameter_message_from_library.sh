$VELMORA brightness in.jpg out.jpg --value 101
ls
