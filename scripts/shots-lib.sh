# Sourced by the shots-*.sh scripts: builds what a picture needs and takes the picture of one
# program's window under Xvfb. VELTRANE_BUILD_DIR names the build folder under the tree (default:
# build).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/${VELTRANE_BUILD_DIR:-build}"
mkdir -p "$root/docs/images"

# shots_build <target>...: the targets and the picture taker.
shots_build() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j3 --target "$@" xshot >/dev/null
}

# shots_window <screen WxH> <seconds> <picture name> <program> [argument]...: starts the program
# on a screen of that size, takes the screen after that many seconds and ends the program.
shots_window() {
  local size=$1 settle=$2 out="$root/docs/images/$3"
  shift 3
  settle=$settle shot="$build/server/shell/xshot" out=$out \
    xvfb-run -a -s "-screen 0 ${size}x24" sh -c \
    '"$@" 2>/dev/null & pid=$!; sleep "$settle"; "$shot" "$out"; kill $pid; wait $pid 2>/dev/null || true' \
    sh "$@"
  echo "$out"
}
