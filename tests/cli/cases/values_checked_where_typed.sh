# Checked against the ranges before any file is touched (the input is missing).
for args in "selective --range 0" "selective --red 1,2,3" "replace --from 1,2 --to 3,4,5" \
            "replace --from 1,2,300 --to 3,4,5" "gamma --gamma 0.09999999" "gamma --gamma x" \
            "levels --black -1" "colorize --color 0,0,0 --intensity 101" \
            "curves --points 0:0" "curves --points 0:0,256:255" "hue --degrees 100000"; do
  $VELMORA $args missing.jpg out.jpg
  echo "[$args] exit $?"
done
ls
