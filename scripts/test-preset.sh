#!/usr/bin/env bash
# Prints the preset whose programs the tests run: mingw-x86 (what ships) where this machine can
# start 32-bit programs, otherwise mingw-x64 (64-bit builds of the same sources under 64-bit
# Wine). Some kernels (and sandboxes) run only 64-bit code. QV_TEST_PRESET overrides the choice.
set -euo pipefail
if [ -n "${QV_TEST_PRESET:-}" ]; then
  echo "$QV_TEST_PRESET"
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo mingw-x86
else
  echo mingw-x64
fi
