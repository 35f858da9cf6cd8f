#!/usr/bin/env bash
# Formats the C and C++ lines changed since the style was adopted (the commit that added
# .clang-format), leaving older code as it is:
#   scripts/format.sh          reformat those lines in the work tree
#   scripts/format.sh --check  list what would change and fail (CI)
# A base commit may be given as the last argument instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=fix
if [ "${1:-}" = --check ]; then mode=check; shift; fi
command -v git-clang-format >/dev/null || { echo "format: git-clang-format is missing (package clang-format)" >&2; exit 1; }
if ! git rev-parse --git-dir >/dev/null 2>&1; then
  echo "format: not a git work tree, nothing to compare with" >&2
  exit 0
fi
base=${1:-$(git log --diff-filter=A --format=%H -- .clang-format | tail -n 1)}
[ -n "$base" ] || { echo "format: .clang-format is not committed yet" >&2; exit 1; }
paths=(src tools engines tests bench fuzz include)
if [ "$mode" = check ]; then
  out=$(git clang-format --diff --extensions c,cc,cpp,h,hpp "$base" -- "${paths[@]}" 2>&1) || true
  case "$out" in
    ""|*"no modified files to format"*|*"did not modify any files"*) echo "format: ok (lines changed since ${base:0:12})" ;;
    *) printf '%s\n' "$out"; echo "format: the lines above are not formatted; run scripts/format.sh" >&2; exit 1 ;;
  esac
else
  git clang-format --force --extensions c,cc,cpp,h,hpp "$base" -- "${paths[@]}" || true
fi
