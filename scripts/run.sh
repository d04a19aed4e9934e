#!/usr/bin/env bash
# Installs what is missing, builds, and starts the main job: the simulated switch of loadrig and
# the link server Brovik linked to it over TCP on this machine. With a display both show their
# windows; without one they run headless and the server's trace log is followed here.
# Ctrl-C stops both (the server first, so it closes the link in order).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build

bin="$root/build"
run="$bin/run"
mkdir -p "$run"
# The demo keeps its own settings unless the caller names a registry file.
export QORVELL_REGISTRY=${QORVELL_REGISTRY:-$run/registry.reg}
if [ ! -s "$QORVELL_REGISTRY" ]; then
  printf '%s\r\n' \
    'REGEDIT4' '' \
    '[HKEY_LOCAL_MACHINE\Software\Qorvell Electronics\OrbManager]' \
    "\"OrbPath\"=\"$run\"" '' \
    '[HKEY_LOCAL_MACHINE\Software\Qorvell Electronics\OrbManager\ConnEnv]' \
    '"ConnType"=dword:00000002' '"SwitchType"=dword:00000000' \
    '"IP Address"="localhost"' '"Port No"=dword:0000138a' \
    '"Listen Port No"=dword:00001770' '"CommPort"=dword:00000001' \
    '"BaudRate"=dword:00002580' '"ByteSize"=dword:00000008' '"StopBits"=dword:00000001' \
    '"SysInfo Password"="8062"' '' \
    '[HKEY_LOCAL_MACHINE\Software\Qorvell Electronics\OrbManager\OptionValues]' \
    '"UseAutoConnect"=dword:00000001' '"UseSystemServiceMode"=dword:00000001' \
    "\"DllPath\"=\"$bin/server/shell\"" '"Extension"="ENG"' '' > "$QORVELL_REGISTRY"
fi

if [ -n "${DISPLAY:-}" ]; then
  mode=() # windows on the display
else
  export QT_QPA_PLATFORM=offscreen
  mode=(--service) # the server headless, as the service runs it
fi

"$bin/loadrig/loadrig" --switch --run &
switch=$!
sleep 1
"$bin/server/shell/Brovik" "${mode[@]}" &
server=$!

stop() {
  kill -TERM "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  kill -TERM "$switch" 2>/dev/null && wait "$switch" 2>/dev/null || true
}
trap stop EXIT INT TERM

echo "Simulated switch on port 5002, Brovik clients on ports 6000 and 6500."
echo "Registry: $QORVELL_REGISTRY; trace log: $bin/server/shell/Log/. Ctrl-C stops both."
if [ ${#mode[@]} -gt 0 ]; then
  sleep 2
  log=$(ls -t "$bin"/server/shell/Log/brv*.log 2>/dev/null | head -1)
  if [ -n "$log" ]; then tail -n +1 -f "$log" --pid="$server"; else wait "$server"; fi
else
  wait "$server"
fi
