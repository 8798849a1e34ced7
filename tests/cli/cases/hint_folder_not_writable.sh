# A read-only output folder is named as the cause (run as an ordinary user:
# root writes anywhere).
if [ -n "$VELMORA_WINDOWS" ]; then echo "folder permissions are POSIX modes here" >&2; exit 77; fi
as_user() {
    if [ "$(id -u)" = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else "$@"; fi
}
chmod 755 . && chmod 644 in.jpg
mkdir locked && chmod 555 locked
as_user $VELMORA invert in.jpg locked/out.png
echo "exit $?"
ls locked
