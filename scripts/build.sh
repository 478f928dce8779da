#!/usr/bin/env bash
# Installs what is missing, then configures and builds a preset (QV_PRESET, default mingw-x86:
# the shipped 32-bit programs): everything, or only the targets named as arguments.
# One build at a time per tree: a second one waits.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
hold_lock build "another build" scripts/build.sh "$@"

bash scripts/install-deps.sh
preset=${QV_PRESET:-mingw-x86}
# Configured again whenever the last configure failed (a mistyped -DUPDATER_SITE_URL, say):
# the cache then holds the value to mend, and the error says which.
if needs_configure "build/$preset"; then
  cmake --preset "$preset" >/dev/null
fi
if (($#)); then
  cmake --build --preset "$preset" --target "$@"
else
  cmake --build --preset "$preset"
fi
