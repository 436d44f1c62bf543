#!/usr/bin/env bash
# Lays out every tracked C, C++ and Python source the one way: clang-format
# with the root .clang-format, black with python/pyproject.toml's [tool.black].
#   scripts/format.sh          rewrite the files in place
#   scripts/format.sh --check  change nothing; list the files that need
#                              formatting and exit 1 if there are any
# Files a generator writes (field-tables) are left to their generator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "format.sh: unknown option '$1' (use --check or nothing)" >&2; exit 2 ;;
esac

clang_format=$(command -v clang-format-14 || command -v clang-format || true)
black=$(command -v black || true)
if [ -z "$clang_format" ] || [ -z "$black" ]; then
  echo "format.sh: clang-format and black are needed (scripts/setup.sh installs them)" >&2
  exit 3
fi

generated='^python/guidew/(_fields|_version)\.py$'
mapfile -t cxx < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
mapfile -t py < <(git ls-files -- '*.py' 'tools/guide-campaign.in' 'tools/replay_export.py.in' | grep -Ev "$generated")
black_args=(--config python/pyproject.toml)

if ((check == 0)); then
  "$clang_format" -i --style=file "${cxx[@]}"
  "$black" --quiet "${black_args[@]}" "${py[@]}"
  exit 0
fi

unformatted=()
for f in "${cxx[@]}"; do
  "$clang_format" --style=file --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
for f in $("$black" "${black_args[@]}" --check "${py[@]}" 2>&1 | sed -n 's/^would reformat //p'); do
  unformatted+=("${f#"$root/"}")
done
if ((${#unformatted[@]})); then
  printf 'format.sh: needs formatting: %s\n' "${unformatted[@]}" >&2
  echo "format.sh: ${#unformatted[@]} file(s); run scripts/format.sh to fix" >&2
  exit 1
fi
