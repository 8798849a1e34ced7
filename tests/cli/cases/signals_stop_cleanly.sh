# SIGTERM and SIGHUP stop a batch as Ctrl-C does, with 128 + the signal;
# nothing half-written is left. (The shell's notice of a job ended by a
# signal is left out: it names the job's process id.)
if [ -n "$VELMORA_WINDOWS" ]; then
    echo "SIGTERM and SIGHUP are POSIX signals: Wine ends a Windows program on them" >&2
    exit 77
fi
for i in $(seq 1 60); do cp in.jpg f$i.jpg; done
for sig in TERM HUP; do
  $VELMORA invert f*.jpg -o out-$sig --format png -j 2 2>/dev/null &
  pid=$!
  sleep 0.5
  kill -$sig $pid
  wait $pid 2>/dev/null
  echo "$sig: exit $?"
  echo "stray files: $(ls -A out-$sig | grep -vc '\.png$')"
  for f in out-$sig/*.png; do head -c 8 "$f" | cmp -s - <(printf '\211PNG\r\n\032\n') || echo "bad file $f"; done
done
