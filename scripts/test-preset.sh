#!/usr/bin/env bash
# Prints the preset whose programs the tests run: mingw-x86 (what ships) where this machine can
# start 32-bit programs, otherwise mingw-x64 (64-bit builds of the same sources under 64-bit
# Wine). Some kernels (and sandboxes) run only 64-bit code. Ask only once Wine is installed:
# before that every machine looks unable.
#   QV_TEST_PRESET=<preset>  runs that preset's programs instead;
#   QV_ASSUME_NO_32BIT=1     takes the path of a machine that cannot start 32-bit programs.
set -euo pipefail
if [ -n "${QV_TEST_PRESET:-}" ]; then
  echo "$QV_TEST_PRESET"
elif [ "${QV_ASSUME_NO_32BIT:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo mingw-x86
else
  echo mingw-x64
fi
