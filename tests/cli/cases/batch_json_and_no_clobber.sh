# --json: one line per file on stdout (input, output, ok, skipped, message,
# milliseconds); --no-clobber leaves outputs already there alone and counts
# them; the failed files are listed again after the summary.
printf 'not an image' > bad.jpg
cp in.jpg a.jpg && cp in.jpg 'b é.jpg'
mkdir out && printf 'kept' > out/a.png
$VELMORA invert a.jpg bad.jpg 'b é.jpg' -o out --format png --no-clobber --json -j 2 |
  sed 's/"milliseconds": [0-9.]*/"milliseconds": N/' | sort
echo "exit ${PIPESTATUS[0]}"
cat out/a.png; echo
$VELMORA invert in.jpg out/a.png --no-clobber
echo "one file: exit $?"
$VELMORA invert in.jpg - --json
echo "json and -: exit $?"
