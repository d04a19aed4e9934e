#!/usr/bin/env bash
# Makes docs/images/linesweep.png: linesweep's window and its setup dialog under Xvfb, with the
# test provider standing in for the switch's provider (four lines, a daily clear at 07:30).
# VELTRANE_BUILD_DIR names the build folder under the tree (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/${VELTRANE_BUILD_DIR:-build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j3 --target linesweep xshot >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/telephony"
ln -s "$build/telephony/veltranetest.tsp" "$work/telephony/lynxtsp32.tsp"
printf '%s\r\n' \
  'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Providers]' \
  '"NumProviders"=dword:00000001' '"NextProviderID"=dword:00000002' \
  '"ProviderID0"=dword:00000001' '"ProviderFileName0"="lynxtsp32.tsp"' '' \
  '[HKEY_LOCAL_MACHINE\Software\Qorvell Electronics\Test Provider\lynxtsp32.tsp]' \
  '"Lines"="Line 201;Line 202;Line 203;Line 204"' '' \
  '[HKEY_LOCAL_MACHINE\Software\Qorvell Electronics\Westmarch]' \
  '"Scheduled"=dword:00000001' '"Line"="All Lines"' '"Hour"="07"' '"Minute"="30"' '' \
  > "$work/registry.reg"
export QORVELL_REGISTRY="$work/registry.reg" QORVELL_TELEPHONY_DIR="$work/telephony"

mkdir -p "$root/docs/images"
out="$root/docs/images/linesweep.png"
xvfb-run -a -s "-screen 0 600x176x24" sh -c \
  "'$build/tools/linesweep/linesweep' --setup 2>/dev/null & pid=\$!; sleep 4;
   '$build/server/shell/xshot' '$out'; kill \$pid; wait \$pid 2>/dev/null || true"
echo "$out"
