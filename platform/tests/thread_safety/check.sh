#!/usr/bin/env bash
# check.sh CLANGXX INCLUDE_DIR: the annotations are live under clang. Rules.cpp must compile as it
# stands and fail with a thread-safety error for each rule it can be made to break.
set -uo pipefail
clang=$1 include=$2
source=$(dirname "$0")/Rules.cpp
compile() {
    "$clang" -std=c++20 -fsyntax-only -Wthread-safety -Werror=thread-safety -I"$include" \
        -DRULE="$1" "$source" 2>&1
}
status=0
if ! out=$(compile 0); then
    echo "Rules.cpp does not compile with every rule kept:"
    echo "$out"
    status=1
fi
for rule in 1 2 3 4 5 6 7; do
    if out=$(compile "$rule"); then
        echo "rule $rule: broken, yet compiled"
        status=1
    elif ! grep -q -- '-Werror,-Wthread-safety' <<<"$out"; then
        echo "rule $rule: failed, but not on a thread-safety error:"
        echo "$out"
        status=1
    fi
done
exit $status
