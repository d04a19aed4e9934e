#!/usr/bin/env bash
# check-format.sh [--fix]: every C++ source of the tree against the root .clang-format; --fix
# rewrites the files in place instead of failing on them.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build -prune -o -path './build-*' -prune -o \
                         \( -name '*.cpp' -o -name '*.h' \) -print)
fi
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
elif ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "Formatting differs from .clang-format: run scripts/check-format.sh --fix" >&2
  exit 1
fi
