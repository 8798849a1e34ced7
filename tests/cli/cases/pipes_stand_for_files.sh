# - as the input reads standard input; - as the output writes standard
# output once the file is whole, in the input's format or --format's; a
# failed call writes nothing there. A batch takes no -.
set -o pipefail
$VELMORA invert in.jpg expected.jpg
$VELMORA invert in.jpg - | cmp - expected.jpg && echo "to standard output: same"
cat in.jpg | $VELMORA invert - from-pipe.png && head -c 4 from-pipe.png | od -An -c | tr -s ' '
cat in.jpg | $VELMORA invert - - | cmp - expected.jpg && echo "through: same"
$VELMORA invert in.jpg from-file.png
$VELMORA invert in.jpg - --format png | cmp - from-file.png && echo "as PNG: same"
cat in.jpg | $VELMORA invert - - --format PNG | cmp - from-file.png && echo "through as PNG: same"
$VELMORA invert missing.jpg - | wc -c
printf 'not an image' | $VELMORA invert - - | wc -c
$VELMORA invert - in.jpg -o out
echo "batch: exit $?"
ls
