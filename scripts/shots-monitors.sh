#!/usr/bin/env bash
# Pictures of the two monitor windows with records arriving, for docs/images/: under Xvfb, a
# link server with its monitor ports is fed by build/monitors/monitorfeed (its switch and one
# client), and smdrwatch, then switchwatch, connect to it. Each screen is the size of the window.
#   scripts/shots-monitors.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QORVELL_REGISTRY=$work/registry.reg
mkdir -p "$root/docs/images"

shot() { # <program> <picture>
  xvfb-run -a -s "-screen 0 677x497x24" sh -c "
    '$build/monitors/$1/$1' --start --quit-after=14 & sleep 10
    '$build/server/shell/xshot' '$2'; wait"
}

"$build/monitors/monitorfeed" --dir="$work" --brovik="$build/server/shell/Brovik" --seconds=60 &
feed=$!
sleep 1
"$build/server/shell/Brovik" --service &
server=$!
sleep 4
shot smdrwatch "$root/docs/images/smdrwatch.png"
shot switchwatch "$root/docs/images/switchwatch.png"
kill -TERM "$server" "$feed" 2>/dev/null || true
wait "$server" "$feed" 2>/dev/null || true
echo "pictures in docs/images: smdrwatch.png switchwatch.png; logs in $work/Log:"
ls "$work/Log"
