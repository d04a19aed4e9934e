#!/bin/sh
# Pictures of Brovik's main window and dialogs for the README, under Xvfb (no window manager):
# each shows the main window at the left and one dialog beside it.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j3 --target shellshots ResDLLEN VeltraneSplash >/dev/null
xvfb-run -a -s "-screen 0 1600x1000x24" \
    "$build/server/shell/shellshots" docs/images "$PWD/$build/server/shell"
