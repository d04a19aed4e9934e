#!/bin/sh
# Runs a test program with the address checks but without the leak check at its exit.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 exec "$@"
