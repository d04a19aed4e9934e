#!/usr/bin/env bash
# Makes docs/images/addrsetup.png: addrsetup's dialog under Xvfb, with the folders of Veltrane
# Rowan and Veltrane Elm known (their buttons enabled) and that of Rowan Plus not.
# VELTRANE_BUILD_DIR names the build folder under the tree (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/${VELTRANE_BUILD_DIR:-build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j3 --target addrsetup xshot >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/apps"
printf '%s\r\n' \
  'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\LYNXTSP32]' \
  '"IP Address"="127.0.0.1"' '"Port No"=dword:00001770' '' \
  '[HKEY_CURRENT_USER\Software\Qorvell Electronics\Rowan\Path]' \
  "\"Path\"=\"$work/apps\"" '' \
  '[HKEY_LOCAL_MACHINE\Software\Qorvell Electronics\Sorrel\Path]' \
  "\"Path\"=\"$work/apps\"" '' \
  > "$work/registry.reg"
export QORVELL_REGISTRY="$work/registry.reg"

mkdir -p "$root/docs/images"
out="$root/docs/images/addrsetup.png"
xvfb-run -a -s "-screen 0 560x286x24" sh -c \
  "'$build/tools/addrsetup/addrsetup' 2>/dev/null & pid=\$!; sleep 3;
   '$build/server/shell/xshot' '$out'; kill \$pid; wait \$pid 2>/dev/null || true"
echo "$out"
