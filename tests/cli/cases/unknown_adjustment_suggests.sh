for name in brightnes Sepia auto_levels greyscale colour-balance posterize; do
  $VELMORA $name in.jpg out.jpg
  echo "[$name] exit $?"
done
$VELMORA help brightnes
echo "[help brightnes] exit $?"
ls
