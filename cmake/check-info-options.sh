#!/bin/sh
# check-info-options.sh PROGRAM NAME VERSION: --help and --version answer with exit code 0,
# without a display, and say what they should.
program=$1 name=$2 version=$3
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
help=$("$program" --help) || { echo "--help ended with $?"; exit 1; }
case $help in
  "Usage: $name "*--version*QORVELL_REGISTRY*) ;;
  *) echo "--help printed: $help"; exit 1 ;;
esac
got=$("$program" --version) || { echo "--version ended with $?"; exit 1; }
[ "$got" = "$name $version" ] || { echo "--version printed: $got"; exit 1; }
