#!/bin/sh
# check-info-options.sh PROGRAM NAME VERSION: --help and --version answer with exit code 0,
# without a display, and say what they should; an unknown option is refused.
program=$1 name=$2 version=$3
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
help=$("$program" --help) || { echo "--help ended with $?"; exit 1; }
case $help in
  "Usage: $name "*--version*QORVELL_REGISTRY*) ;;
  *) echo "--help printed: $help"; exit 1 ;;
esac
got=$("$program" --version) || { echo "--version ended with $?"; exit 1; }
[ "$got" = "$name $version" ] || { echo "--version printed: $got"; exit 1; }
# An option it does not know: named on standard error with the usage, exit 2, nothing started.
# The registry is a file of its own, so that a program that wrongly starts changes nothing.
home=$(mktemp -d)
QORVELL_REGISTRY=$home/registry.reg XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen \
  timeout 60 "$program" --sevice >/dev/null 2>"${TMPDIR:-/tmp}/unknown-option.$$"
status=$?
told=$(cat "${TMPDIR:-/tmp}/unknown-option.$$"); rm -rf "${TMPDIR:-/tmp}/unknown-option.$$" "$home"
[ "$status" -eq 2 ] || { echo "an unknown option ended with $status: $told"; exit 1; }
case $told in
  "$name: unknown option: --sevice
Usage: $name "*) ;;
  *) echo "an unknown option printed: $told"; exit 1 ;;
esac
