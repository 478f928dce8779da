#!/usr/bin/env bash
# Installs what is missing, then configures and builds the mingw-x86 preset: everything,
# or only the targets named as arguments.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/install-deps.sh
[ -f build/mingw-x86/CMakeCache.txt ] || cmake --preset mingw-x86 >/dev/null
if (($#)); then
  cmake --build --preset mingw-x86 --target "$@"
else
  cmake --build --preset mingw-x86
fi
