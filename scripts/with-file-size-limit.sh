#!/usr/bin/env bash
# Runs a command whose writes past KB kilobytes fail, as on a full disk:
#   with-file-size-limit.sh KB COMMAND [ARGS...]
# SIGXFSZ is ignored, and stays ignored across exec, so the write fails instead of killing.
set -euo pipefail
trap '' XFSZ
ulimit -f "$1"
shift
exec "$@"
