# Only neutral values (given or left out) warn that the picture will not
# change; the file is still written. Any other value, or an adjustment
# without values, does not warn. In a chain each such step warns.
for args in "brightness" "brightness --value 0" "brightness --value 1" "levels --gamma 1.0" \
            "levels --white 254" "curves" "curves --points 0:0,255:255" \
            "curves --points 0:0,128:128,255:255" "sepia" "saturation + vignette --radius 60" \
            "invert + contrast + hue"; do
  $VELMORA $args in.jpg out.png
  echo "[$args] exit $?"
done
