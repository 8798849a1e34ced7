printf 'not an image' > bad.jpg
cp in.jpg good.jpg
{ $VELMORA sepia good.jpg gone.png bad.jpg -o out -j 3 2>&1; echo "exit $?"; } | sort
ls out
