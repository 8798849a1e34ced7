# No worker process can be started (a limit of one process for the user, who
# has that one already): every file fails with the reason, none is left
# untried and the exit status says so. Run as an ordinary user: root is not
# held to the limit.
if [ -n "$VELMORA_WINDOWS" ]; then echo "a per-user process limit is POSIX" >&2; exit 77; fi
as_user() {
    if [ "$(id -u)" = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else "$@"; fi
}
chmod 777 . && chmod 644 in.jpg
cp in.jpg a.jpg && cp in.jpg b.jpg
# A sanitizer build's leak check at exit needs a thread of its own, which the
# limit forbids: it is off for this one run.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
as_user bash -c 'ulimit -u 1 && exec "$@"' limited $VELMORA invert a.jpg b.jpg in.jpg -o out -j 2
echo "exit $?"
ls -A out
