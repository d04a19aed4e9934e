#!/bin/sh
# check-man-page.sh PAGE PROGRAM: the manual page made from PROGRAM's --help renders without a
# warning, names the program in its NAME line and carries every word of the --help text.
set -f
page=$1 program=$2
command -v man >/dev/null && command -v col >/dev/null || { echo "man or col is not installed"; exit 77; }
name=$(basename "$program")
export LC_ALL=C.UTF-8
warnings=$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man warns: $warnings"; exit 1; }
# One line a paragraph and no hyphenation, so each word can be found whole.
text=$(MANWIDTH=1000 MANROFFOPT=-rHY=0 man -l "$page" 2>/dev/null | col -b)
echo "$text" | grep -A1 '^NAME$' | grep -q "^ *$name - ." || { echo "no NAME line: $text"; exit 1; }
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help) || { echo "--help failed"; exit 1; }
for word in $(echo "$help" | grep -v -e '^Usage: ' -e '^Options:$' -e '^Environment:$'); do
  word=${word%:}
  case $text in
    *"$word"*) ;;
    *) echo "the page lacks '$word' of --help"; exit 1 ;;
  esac
done
