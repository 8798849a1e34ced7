# A name two edits from an adjustment's gets it suggested; three edits away,
# none is (in the command and in help alike).
for name in sepiaxy sepiaxyz invrt invrtxy; do
  $VELMORA $name in.jpg out.jpg
  echo "[$name] exit $?"
done
$VELMORA help sepiaxy
$VELMORA help sepiaxyz
echo "[help] exit $?"
