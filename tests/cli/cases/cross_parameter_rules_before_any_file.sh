# Rules between values (levels' black below white, a curve's X increasing)
# are usage errors found before any file is read: one message, exit 2, in a
# batch and in any step of a chain alike. The inputs do not exist, so a read
# would show.
for args in "levels --black 200 --white 100 a.jpg b.jpg c.jpg -o out" \
            "levels --black 255 a.jpg out.jpg" "levels --white 0 a.jpg out.jpg" \
            "levels --black 9 --white 10 + curves --points 0:0,128:100,100:255 a.jpg out.jpg" \
            "curves --points 0:0,64:64,64:200,255:255 a.jpg out.jpg" \
            "curves --red 0:0,255:255 --green 0:0,200:100,100:255 --blue 0:0,1:1,255:255 a.jpg out.jpg" \
            "sepia + levels --black 128 --white 128 + invert a.jpg b.jpg -o out"; do
  $VELMORA $args
  echo "[$args] exit $?"
done
ls
