# Non-ASCII names reach the library and the command's own checks whole (on
# Windows: through the wide command line, and on to the workers): one file,
# a batch of two workers into a new folder, the extension warning, which
# reads the input, and a hint that looks at the output.
export LC_ALL=C.UTF-8
cp in.jpg 写真.jpg && cp in.jpg 風景.jpg
$VELMORA sepia 写真.jpg 写真-セピア.png; echo "exit $?"
$VELMORA invert 写真.jpg 風景.jpg -o 出力 --format bmp -j 2; echo "exit $?"
ls 出力 写真-セピア.png
$VELMORA sepia 写真.jpg 写真.webp; echo "exit $?"
mkdir 既存.png
$VELMORA sepia 写真.jpg 既存.png; echo "exit $?"
