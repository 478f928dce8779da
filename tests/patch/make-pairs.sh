#!/usr/bin/env bash
# Makes the Windows tests' patches with the native update-server:
#   make-pairs.sh UPDATE_SERVER OUT_DIR NAME OLD NEW [NAME OLD NEW ...]
# writes OUT_DIR/NAME.old, NAME.new (copies) and NAME.qvpatch for each pair.
set -euo pipefail
server=$1 out=$2
shift 2
if [ ! -x "$server" ]; then
  echo "make-pairs: $server is missing: build the native preset first (QV_UPDATE_SERVER_PROGRAM)" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"
while (($# >= 3)); do
  cp "$2" "$out/$1.old"
  cp "$3" "$out/$1.new"
  "$server" patch "$out/$1.old" "$out/$1.new" "$out/$1.qvpatch"
  shift 3
done
