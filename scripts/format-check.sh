#!/usr/bin/env bash
# The project's style (.clang-format: Google's, 120 columns) on every C++
# file in the repository: lists the files that drift and exits non-zero when
# any does. `scripts/format-check.sh --fix` formats them in place.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format || command -v clang-format-14 || true)
if [[ -z "$format" ]]; then
  echo "format-check: clang-format is not installed (apt install clang-format)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
  "$format" -i "${files[@]}"
  exit 0
fi
drifted=()
for f in "${files[@]}"; do
  if ! "$format" --dry-run --Werror "$f" >/dev/null 2>&1; then drifted+=("$f"); fi
done
if ((${#drifted[@]})); then
  printf 'format-check: not in the project'"'"'s style (scripts/format-check.sh --fix):\n' >&2
  printf '  %s\n' "${drifted[@]}" >&2
  exit 1
fi
echo "format-check: ${#files[@]} files in style"
