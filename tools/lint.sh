#!/usr/bin/env bash
# Checks the sources' form: clang-format on every C++ file, no function that nothing calls, and
# clang-tidy on every program's sources (the core, the windows, the tool, the service and the
# simulator's terminal), with the compile commands of ./build (bash tools/build.sh first).
#   --fix  formats the files in place instead of checking them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh clang-format clang-tidy >/dev/null
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files formatted"
python3 tools/unused.py
echo "unused functions: none"
[ -f build/compile_commands.json ] || { echo "lint: no build/compile_commands.json; run tools/build.sh" >&2; exit 1; }
mapfile -t core < <(git ls-files 'src/link/*.cpp' 'src/compose/*.cpp' \
  'src/protocol/*.cpp' 'src/filters/*.cpp' 'src/media/*.cpp' 'src/sim/*.cpp' 'src/files/*.cpp' \
  'src/network/*.cpp' 'src/editor/*.cpp' 'src/cli/*.cpp' 'src/ui/*.cpp' 'src/service/*.cpp' \
  'src/app/*.cpp' 'src/simpty/*.cpp')
# Two at a time (CI has two cores); a file found clean before and unchanged since, headers
# included, is not checked again.
python3 tools/tidy.py "${core[@]}"
echo "clang-tidy: every program's sources clean (${#core[@]} files)"
