$VELMORA list | grep -v '^ ' | cut -d' ' -f1
