#!/usr/bin/env bash
# Installs what is missing, then configures and builds the mingw-x86 preset: everything,
# or only the targets named as arguments. One build at a time per tree: a second one waits.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
hold_lock build "another build" scripts/build.sh "$@"

bash scripts/install-deps.sh
# Configured again whenever the last configure failed (a mistyped -DUPDATER_SITE_URL, say):
# the cache then holds the value to mend, and the error says which.
if needs_configure "$QV_BUILD_DIR"; then
  cmake --preset mingw-x86 >/dev/null
fi
if (($#)); then
  cmake --build --preset mingw-x86 --target "$@"
else
  cmake --build --preset mingw-x86
fi
