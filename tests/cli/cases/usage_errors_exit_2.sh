# Every usage error: exit status 2, "velmora:" and one line of usage.
for args in "" "sepia in.jpg" "sepia in.jpg o.jpg --bogus" "sepia in.jpg o.jpg -j 0" \
            "sepia in.jpg -o d --format gif"; do
  $VELMORA $args
  echo "[$args] exit $?"
done
ls
