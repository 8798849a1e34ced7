# A chain's usage errors, each found before any file is read: files or batch
# options before the last step, an empty step, a step that is no adjustment,
# a typo or a bad value in any step, an output that names no format.
for args in "levels in.jpg + sepia out.png" "levels -o d + sepia in.jpg out.png" \
            "levels --blak 3 + sepia in.jpg out.png" "levels + + sepia in.jpg out.png" \
            "sepia + in.jpg out.png" "sepia + list" "sepia + grey in.jpg out.png" \
            "sepia + brightness --value 101 in.jpg out.png" "sepia + invert in.jpg out.xyz" \
            "sepia + invert in.jpg -" "sepia + invert noext -o d"; do
  $VELMORA $args
  echo "[$args] exit $?"
done
ls
