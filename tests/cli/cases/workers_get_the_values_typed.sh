# Files run by worker processes are written with the values typed, negative
# ones and lists included, and names with spaces arrive whole: each output of
# a batch of two workers equals the same call on one file.
mkdir "in put"
cp in.jpg "in put/a photo.jpg" && cp in.jpg "in put/b.jpg"
run() {
    name=$1; shift
    $VELMORA "$name" "in put/a photo.jpg" "in put/b.jpg" -o "out $name" -j 2 --format png "$@" 2>/dev/null
    $VELMORA "$name" in.jpg "one $name.png" "$@"
    for f in "a photo" b; do
        cmp -s "out $name/$f.png" "one $name.png" && echo "$name: $f same" || echo "$name: $f differs"
    done
}
run brightness --value=-20
run color-balance --shadows -10,20,-30 --highlights 5,5,5
run curves --red 0:10,128:128,255:240 --green 0:0,128:100,255:255 --blue 0:0,100:90,255:200
run gamma --gamma 1.5
