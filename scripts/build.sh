#!/usr/bin/env bash
# Installs what is missing, then configures and builds a preset (QV_PRESET, default mingw-x86:
# the shipped 32-bit programs): everything, or only the targets named as arguments.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/install-deps.sh
preset=${QV_PRESET:-mingw-x86}
[ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
if (($#)); then
  cmake --build --preset "$preset" --target "$@"
else
  cmake --build --preset "$preset"
fi
