for i in $(seq 1 60); do cp in.jpg f$i.jpg; done
$VELMORA invert f*.jpg -o out --format png -j 2 2>/dev/null &
pid=$!
# Once the first file is written (the program is surely running by then).
for _ in $(seq 1 100); do ls out 2>/dev/null | grep -q '\.png$' && break; sleep 0.1; done
kill -INT $pid
wait $pid
echo "exit $?"
echo "temporary files left: $(ls -A out | grep -vc '\.png$')"
for f in out/*.png; do head -c 8 "$f" | cmp -s - <(printf '\211PNG\r\n\032\n') || echo "bad file $f"; done
