#!/usr/bin/env bash
# Makes docs/images/addrsetup.png: addrsetup's dialog under Xvfb, with the folders of Veltrane
# Rowan and Veltrane Elm known (their buttons enabled) and that of Rowan Plus not.
set -euo pipefail
source "$(dirname "$0")/shots-lib.sh"
shots_build addrsetup

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

shots_window 560x286 3 addrsetup.png "$build/tools/addrsetup/addrsetup"
