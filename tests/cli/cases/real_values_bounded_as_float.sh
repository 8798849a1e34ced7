# A real value is bounded as the library takes it, as a float: one that is
# the bound as a float is accepted (and the library writes the file), one
# beyond it is refused before any file is touched.
for value in 5.0000001 0.099999999 5.000001; do
  $VELMORA gamma in.jpg "gamma-$value.png" --gamma $value
  echo "[gamma $value] exit $?"
done
$VELMORA levels in.jpg levels.png --gamma 5.0000001
echo "[levels --gamma 5.0000001] exit $?"
ls
