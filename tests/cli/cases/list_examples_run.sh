# Every example that `velmora list` shows runs as shown and changes the
# picture (no warning that it leaves it as it is).
$VELMORA list | grep -c '^    example: '
$VELMORA list | sed -n 's/^    example: *velmora //p' | while read -r line; do
  name=${line%% *}
  $VELMORA ${line% IN OUT} in.jpg "$name.png" || echo "failed: $line"
done
ls | wc -l
