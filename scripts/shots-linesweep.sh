#!/usr/bin/env bash
# Makes docs/images/linesweep.png: linesweep's window and its setup dialog under Xvfb, with the
# test provider standing in for the switch's provider (four lines, a daily clear at 07:30).
set -euo pipefail
source "$(dirname "$0")/shots-lib.sh"
shots_build linesweep

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

shots_window 600x176 4 linesweep.png "$build/tools/linesweep/linesweep" --setup
