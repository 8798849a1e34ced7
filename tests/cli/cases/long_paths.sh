# Paths over 260 characters, ASCII and not, go through every check of the
# command's own (the output's folder made, an output already there, the
# cause of a failed read) as well as through the library.
long=$(printf 'a%.0s' {1..120})/$(printf 'b%.0s' {1..120})/$(printf 'c%.0s' {1..60})
wide=$(printf 'ü%.0s' {1..100})/$(printf 'ж%.0s' {1..100})/$(printf '写%.0s' {1..40})
for dir in "$long" "$wide"; do
  $VELMORA invert in.jpg "$dir/out.png" && echo "written"
  $VELMORA invert "$dir/out.png" "$dir/back.jpg" && echo "read back"
  $VELMORA invert + sepia in.jpg "$dir/chain.bmp" && echo "chain"
  $VELMORA invert in.jpg "$dir/out.png" -o "$dir/batch" >/dev/null 2>&1 && echo "batch"
  $VELMORA invert "$dir/missing.jpg" "$dir/x.png" 2>&1 | grep hint: | sed "s|$dir|DIR|g"
  $VELMORA invert in.jpg "$dir/out.png" --no-clobber 2>&1 | sed "s|$dir|DIR|g"
done
