# Two workers at once: each failure is reported with its own file's message
# (the library's message is one per process), the good files are written.
printf 'not an image' > bad.jpg
printf 'GIF89a' > anim.gif
cp in.jpg good.jpg && cp in.jpg good2.jpg
{ $VELMORA sepia good.jpg gone.png bad.jpg anim.gif good2.jpg -o out -j 2 2>&1; echo "exit $?"; } | sort
ls out
