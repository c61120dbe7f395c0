#!/usr/bin/env bash
# Checks the sources' form: which folder includes which (the programs apart, the core without
# Qt), clang-format on every C++ file, no function that nothing calls, and
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
# Who may include whom, by the folders of the include lines: the programs (app, cli, service,
# and the windows under ui) stand apart, each on the core and on the modules they share
# (showfile); the core includes neither Qt nor anything above it.
include_check() {  # include_check WHAT PATTERN FOLDER...
  local what=$1 pattern=$2 found
  shift 2
  if found=$(git grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*$pattern" -- "$@"); then
    echo "lint: $what:" >&2
    echo "$found" >&2
    return 1
  fi
}
core_folders=(src/link src/compose src/protocol src/filters src/media src/sim src/files
  src/network src/editor)
layers_ok=true
include_check "the service includes another program" '"(app|cli)/' src/service || layers_ok=false
include_check "the tool includes another program" '"(app|service)/' src/cli || layers_ok=false
include_check "a shared module includes a program" '"(app|cli|service|ui)/' src/showfile ||
  layers_ok=false
include_check "the core includes Qt" '[<"](Q[A-Za-z]|q[a-z0-9_]*\.h[>"])' "${core_folders[@]}" ||
  layers_ok=false
include_check "the core includes a program or a module above it" \
  '"(app|cli|service|ui|showfile|simpty)/' "${core_folders[@]}" || layers_ok=false
$layers_ok || exit 1
echo "includes: the programs apart, the core free of Qt"
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files formatted"
python3 tools/unused.py
echo "unused functions: none"
[ -f build/compile_commands.json ] || { echo "lint: no build/compile_commands.json; run tools/build.sh" >&2; exit 1; }
mapfile -t core < <(git ls-files 'src/link/*.cpp' 'src/compose/*.cpp' \
  'src/protocol/*.cpp' 'src/filters/*.cpp' 'src/media/*.cpp' 'src/sim/*.cpp' 'src/files/*.cpp' \
  'src/network/*.cpp' 'src/editor/*.cpp' 'src/cli/*.cpp' 'src/ui/*.cpp' 'src/service/*.cpp' \
  'src/app/*.cpp' 'src/simpty/*.cpp' 'src/showfile/*.cpp')
# Two at a time (CI has two cores); a file found clean before and unchanged since, headers
# included, is not checked again.
python3 tools/tidy.py "${core[@]}"
echo "clang-tidy: every program's sources clean (${#core[@]} files)"
