# A chain (A + B + C) writes, byte for byte, what the same steps write one by
# one through PNG files, for every adjustment, to each output format; for one
# file, a batch and a pipe. Nothing of the intermediates is left behind.
export TMPDIR=$PWD/tmp TMP=$PWD/tmp TEMP=$PWD/tmp
mkdir tmp
chains=(
  "levels --black 30 --white 215 --gamma 1.2 + saturation --amount 70 + vignette --strength 80 --radius 60"
  "grayscale + brightness --value 25 + contrast --value 40"
  "sepia + gamma --gamma 1.8 + invert"
  "auto-levels + curves --points 0:0,64:40,192:225,255:255 + hue --degrees 150"
  "replace --from 70,75,50 --to 255,80,0 --tolerance 25 + colorize --color 40,110,220 --intensity 45 + white-balance --temperature 30"
  "color-balance --shadows 10,0,-10 --midtones 0,5,0 --highlights -5,0,5 + selective --hue 90 --range 40 --sat-min 10 --red 20,0 --green 0,20 --blue 0,0 + curves --red 0:0,255:200 --green 0:20,255:255 --blue 0:0,255:230"
)
for chain in "${chains[@]}"; do
  IFS='+' read -ra steps <<<"$chain"
  from=in.jpg
  for k in "${!steps[@]}"; do
    $VELMORA ${steps[$k]} "$from" "step$k.png" || echo "step failed: ${steps[$k]}"
    from=step$k.png
  done
  last=${steps[${#steps[@]}-1]}
  for ext in png jpg; do
    $VELMORA $last "step$((${#steps[@]}-2)).png" "expected.$ext"
    $VELMORA $chain in.jpg "chain.$ext" || echo "chain failed: $chain"
    cmp -s "chain.$ext" "expected.$ext" || echo "differs as $ext: $chain"
  done
done
echo "${#chains[@]} chains compared"
cp in.jpg a.jpg && cp in.jpg b.jpg
$VELMORA $chain a.jpg b.jpg -o out -j 2 --format png
cmp out/a.png expected.png && cmp out/b.png expected.png && echo "batch: same"
cat in.jpg | $VELMORA $chain - - --format png | cmp - expected.png && echo "pipe: same"
mkdir taken.png
$VELMORA invert + sepia in.jpg taken.png
echo "last step failed: exit $?"
ls tmp | grep -v '^wine-' || true  # Wine keeps a folder of its own there
