# An input the user may not read is named as the cause (run as an ordinary
# user: root reads anything).
if [ -n "$VELMORA_WINDOWS" ]; then echo "file permissions are POSIX modes here" >&2; exit 77; fi
as_user() {
    if [ "$(id -u)" = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else "$@"; fi
}
chmod 777 . && cp in.jpg locked.jpg && chmod 000 locked.jpg
as_user $VELMORA invert locked.jpg out.png
echo "exit $?"
ls
