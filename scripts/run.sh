#!/usr/bin/env bash
# Installs what is missing, builds, and starts the whole chain on this machine: the simulated
# switch of loadrig, the link server Brovik linked to it over TCP, and the simulated client of
# loadrig logged in on Brovik's client port and running its call cycle. With a display all three
# show their windows; without one they run headless. Either way the server's trace shows here
# (its standard error) and stays in its log files.
# Ctrl-C, SIGINT or SIGTERM to this script, or a closed terminal, stop all three: the server
# first, so it clears the link and closes its clients in order, then the client and the switch.
# VELTRANE_BUILD_DIR names the build folder under the tree (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELTRANE_BUILD_DIR:-build}
"$root/scripts/install-deps.sh"
# Only what the chain runs: the two programs and the server's language library (its splash
# library and logo clip come with it).
echo "run.sh: building loadrig and Brovik in $build (a first build takes about 6 minutes on" \
  "8 cores; later runs build only what changed)"
"$root/scripts/build.sh" "$build" --target loadrig Brovik ResDLLEN VeltraneSplash

bin="$root/$build"
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
# The server plays its logo from its install folder (OrbPath), which is not the build's.
orbpath=$(sed -n 's/^"OrbPath"="\(.*\)"\r*$/\1/p' "$QORVELL_REGISTRY" | head -1)
if [ -n "$orbpath" ] && [ -d "$orbpath" ]; then
  cp -f "$bin/server/shell/OrbLogo.avi" "$orbpath/OrbLogo.avi"
fi
# The client's first settings match the simulated switch's first numbering (three digits,
# stations from 201): ports 201..204 call 205..208, answer, hold, retrieve and drop. Once the
# key is there the client window keeps what its Quit saves.
if ! grep -qi '^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorvell Electronics\\loadrig\]' \
    "$QORVELL_REGISTRY"; then
  printf '%s\r\n' \
    '[HKEY_LOCAL_MACHINE\SOFTWARE\Qorvell Electronics\loadrig]' \
    '"Server IPAddr"="127.0.0.1"' '"Server PortNo"="6000"' '"TelNo Size"="0"' \
    '"Port Count"="0"' '"Sim Time"="1"' '"CallerStart Tel"="201"' '"CalleeStart Tel"="205"' \
    '"MakeConnState"="1"' '"MakeHoldState"="1"' '"IdleDelay Time"="1"' \
    '"RingDelay Time"="1"' '"ConnDelay Time"="1"' '"HoldDelay Time"="1"' '' >> "$QORVELL_REGISTRY"
fi

# With a display the windows do not cover each other: the switch on the left, the server and
# the client beside it one above the other (about 1780 x 1360 pixels in
# all), not stacked on one corner.
place() { if [ -n "${DISPLAY:-}" ]; then echo -qwindowgeometry "$1"; fi; }
if [ -n "${DISPLAY:-}" ]; then
  mode=(-qwindowgeometry +760+0) # windows on the display
else
  export QT_QPA_PLATFORM=offscreen
  mode=(--service) # the server headless, as the service runs it
fi

switch="" server="" client=""
# Gone, or a zombie that only waits to be reaped.
gone() {
  local state
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) || return 0
  [ -z "$state" ] || [ "$state" = Z ]
}
# Asks the program to stop and waits for it; one that hangs is killed after 30 s.
stop_one() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 300); do gone "$pid" && break; sleep 0.1; done
  if ! gone "$pid"; then
    echo "run.sh: process $pid did not stop within 30 s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}
stop() {
  # A second Ctrl-C while the chain stops would end this script and leave the rest running.
  trap '' INT TERM HUP
  trap - EXIT
  stop_one "$server"
  stop_one "$client"
  stop_one "$switch"
}
trap stop EXIT
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM
trap 'stop; exit 129' HUP

# True while something listens on the TCP port (v4 or v6), read from the kernel's tables so the
# probe is no connection that the server would log.
listening() {
  local hex
  hex=$(printf ':%04X' "$1")
  cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | awk -v p="$hex" '$2 ~ p"$" && $4 == "0A"' |
    grep -q .
}

# Each program in a session of its own: the terminal's Ctrl-C reaches this script alone, which
# stops them in order. Started in the background of a script, none leads a process group, so
# setsid makes the session without forking and $! is the program itself.
setsid "$bin/loadrig/loadrig" $(place +0+0) --switch --run &
switch=$!
for _ in $(seq 50); do listening 5002 && break; sleep 0.1; done
setsid "$bin/server/shell/Brovik" "${mode[@]}" &
server=$!
# Brovik opens its client ports once the switch's device download is in.
for _ in $(seq 300); do listening 6000 && break; sleep 0.1; done
if ! listening 6000; then
  echo "run.sh: Brovik did not open its client port 6000" >&2
  exit 1
fi
setsid "$bin/loadrig/loadrig" $(place +760+660) --client --server=127.0.0.1 --port=6000 --start &
client=$!

echo "Simulated switch on port 5002, Brovik clients on ports 6000 and 6500, simulated client on"
echo "6000. Registry: $QORVELL_REGISTRY; trace log: $bin/server/shell/Log/. Ctrl-C stops all three."
# The builtin wait, unlike a command in the foreground, gives way to the traps at once.
wait "$server" || true
