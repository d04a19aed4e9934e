#!/usr/bin/env bash
# build.sh DIR [cmake options...] [--target TARGET...]: configures the tree into DIR and builds
# it, or only the named targets (and what they depend on).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
options=() targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = --target ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$root/$dir" -j"$(nproc)" ${targets[@]+--target "${targets[@]}"}
