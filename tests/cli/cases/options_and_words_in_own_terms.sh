# Parser errors in the command's own words: a mistyped option gets the
# nearest options of its adjustment (two edits at most), an option of another
# adjustment the right one, common words the adjustment they mean.
for args in "brightness --valeu 5" "brightness --vlaue=5" "saturation --value 50" \
            "levels --value 50" "sepia --value 50" "sepia --jbos 2" "vignette --strenght 3" \
            "brightness --value 1 --value 2" "-j 2 sepia" \
            "sepia -j x" "curves --red 0:0,1:1" "replace --to 1,2,3" \
            "gray" "grey" "negate" "negative" "normalize" "tint"; do
  $VELMORA $args in.jpg out.jpg
  echo "[$args] exit $?"
done
$VELMORA brightness in.jpg out.jpg --value
$VELMORA sepia in.jpg -o
echo "[no value] exit $?"
ls
