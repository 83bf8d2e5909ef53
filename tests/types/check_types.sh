#!/usr/bin/env bash
# Checks docs/ombrix.d.ts with the TypeScript compiler: examples that call every
# function of `ombrix` compile with --strict, and so do the demo's scripts
# (inline ones and .js files) as checked JavaScript.
# Usage: check_types.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work_dir=$2

if ! command -v tsc >/dev/null 2>&1; then
  if [ -n "${CI:-}" ]; then
    echo "tsc is missing; scripts/install-deps installs it (node-typescript)" >&2
    exit 1
  fi
  echo "SKIPPED: tsc is not installed (apt-get install node-typescript)"
  exit 77
fi

declarations=$source_dir/docs/ombrix.d.ts
options=(--strict --noEmit --lib es2020,dom --target es2020)

echo "tsc $(tsc --version): examples"
tsc "${options[@]}" "$declarations" "$source_dir/tests/types/examples.ts"

rm -rf "$work_dir/demo-scripts"
mapfile -t pages < <(find "$source_dir/demo" -name '*.html' | sort)
node "$source_dir/tests/types/extract_scripts.js" "$work_dir/demo-scripts" "${pages[@]}" \
  >"$work_dir/demo-scripts.txt"
find "$source_dir/demo" -name '*.js' | sort >>"$work_dir/demo-scripts.txt"
mapfile -t scripts <"$work_dir/demo-scripts.txt"
if [ ${#scripts[@]} -eq 0 ]; then
  echo "the demo has no script to check" >&2
  exit 1
fi
echo "tsc: demo scripts (inline ones of ${pages[*]} at their own lines) ${scripts[*]}"
tsc "${options[@]}" --allowJs --checkJs "$declarations" "${scripts[@]}"
echo "declarations check out"
