set -e
$VELMORA levels in.jpg a.png --black 16 --white 235 --gamma 1.2
$VELMORA curves in.jpg b.png --red 0:0,255:255 --green 0:255,255:0 --blue 0:0,255:255
$VELMORA color-balance in.jpg c.bmp --shadows 0,0,10 --highlights=8,4,-3
$VELMORA selective in.jpg d.jpg --hue 90 --range 45 --sat-min 10 --red 60,40 --blue=-50,0
$VELMORA replace in.jpg e.png --from 70,75,50 --to 255,80,0 --tolerance 25
ls
