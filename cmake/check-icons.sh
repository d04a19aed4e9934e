#!/bin/sh
# check-icons.sh FOLDER NAME...: each program has an icon under FOLDER/<N>x<N>/apps, and every
# PNG there is as large as the name of its folder says (the icon theme goes by the folder).
folder=$1
shift
for name in "$@"; do
  ls "$folder"/*/apps/"$name.png" >/dev/null 2>&1 || { echo "no icon of $name"; exit 1; }
done
for file in "$folder"/*/apps/*.png; do
  size=$(basename "$(dirname "$(dirname "$file")")")
  set -- $(od -An -tu1 -j16 -N8 "$file")
  [ $# -eq 8 ] || { echo "$file is no PNG"; exit 1; }
  real="$(($1 * 16777216 + $2 * 65536 + $3 * 256 + $4))x$(($5 * 16777216 + $6 * 65536 + $7 * 256 + $8))"
  [ "$real" = "$size" ] || { echo "$file is $real"; exit 1; }
done
