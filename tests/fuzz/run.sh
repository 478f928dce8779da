#!/usr/bin/env bash
# Builds a fuzz target with clang (libFuzzer, ASan, UBSan) into build/fuzz and runs it:
#   tests/fuzz/run.sh [SECONDS] [head|patch|inflate]      (default 600 seconds, head)
# head: the server's reading of client bytes; patch: the delta patcher the updater links;
# inflate: the patcher's inflate against zlib's.
# Crashes land in build/fuzz/crashes/; the corpus grows in build/fuzz/corpus/ (head) or
# build/fuzz/patch-corpus/ (patch) or build/fuzz/inflate-corpus/ (inflate).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
out=build/fuzz
target=${2:-head}
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
mkdir -p "$out/crashes"
seed() { # seed CORPUS BYTES(printf %b)
  printf '%b' "$2" >"$1/seed-$(printf '%s' "$2" | md5sum | cut -c1-8)"
}
case $target in
head)
  corpus=$out/corpus max_len=4096
  mkdir -p "$corpus"
  clang++ "${flags[@]}" -Iserver tests/fuzz/HeadFuzz.cpp server/HeadScanner.cpp server/ByteRanges.cpp \
    -o "$out/head-fuzz"
  for s in "GET / HTTP/1.1\r\nHost: a\r\n\r\n" \
    "GET /a HTTP/2.0\r\nX: a\r\n b\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: +5\r\n\r\n" \
    "bytes=0-9\0\"abc\"\0\0Sun, 06 Nov 1994 08:49:37 GMT\0*\0Sunday, 06-Nov-94 08:49:37 GMT"; do
    seed "$corpus" "\x07$s"
  done
  ;;
patch)
  corpus=$out/patch-corpus max_len=65536
  mkdir -p "$corpus"
  clang++ "${flags[@]}" -Ipatch tests/fuzz/PatchFuzz.cpp patch/ApplyPatch.cpp patch/BlockInflater.cpp \
    patch/DeflateDecoder.cpp patch/PatchFormat.cpp patch/PatchWriter.cpp -lz -o "$out/patch-fuzz"
  # Raw blocks: an old file of 16 bytes, steps that copy, add extra bytes and seek back.
  seed "$corpus" "\x01\x10\x00ABCDEFGHIJKLMNOP\x18\x00\x02\x02\
\x08\0\0\0\0\0\0\0\x04\0\0\0\0\0\0\0\x04\0\0\0\0\0\0\x80\
\x08\0\0\0\0\0\0\0\x04\0\0\0\0\0\0\0\x00\0\0\0\0\0\0\0\x01\x02\x03\x04\0\0\0\0xyzwvuts"
  # A patch made by update-server from two small programs, where a native build has one.
  server=$(ls build/native*/bin/update-server 2>/dev/null | head -1 || true)
  fixtures=$(ls -d build/native*/tests/update-server/fixtures 2>/dev/null | head -1 || true)
  if [ -n "$server" ] && [ -f "$fixtures/v2_0_1_5.exe" ]; then
    tmp=$(mktemp -d)
    head -c 30000 "$fixtures/v2_0_1_5.exe" >"$tmp/old"
    { head -c 20000 "$fixtures/v2_0_2_0.exe"; head -c 9000 "$fixtures/v1_0_10_0.exe"; } >"$tmp/new"
    "$server" patch "$tmp/old" "$tmp/new" "$tmp/patch" >/dev/null
    { printf '\x00\x30\x75'; cat "$tmp/old" "$tmp/patch"; } >"$corpus/seed-update-server"
    rm -rf "$tmp"
  fi
  ;;
inflate)
  corpus=$out/inflate-corpus max_len=16384
  mkdir -p "$corpus"
  clang++ "${flags[@]}" -Ipatch tests/fuzz/InflateFuzz.cpp patch/BlockInflater.cpp \
    patch/DeflateDecoder.cpp -lz -o "$out/inflate-fuzz"
  # Streams zlib writes (its header left off), read a byte and 64 bytes at a time.
  for level in 0 1 9; do
    for piece in '\x00' '\x3f'; do
      { printf "$piece"; python3 -c "import sys, zlib; sys.stdout.buffer.write(zlib.compress(
          b'patch blocks: ' * 40 + bytes(range(256)) * 3, $level)[2:])"; } >"$corpus/seed-$level-${piece:2}"
    done
  done
  ;;
*)
  echo "usage: tests/fuzz/run.sh [SECONDS] [head|patch|inflate]" >&2
  exit 2
  ;;
esac
exec "$out/$target-fuzz" -max_total_time="${1:-600}" -max_len="$max_len" \
  -artifact_prefix="$out/crashes/$target-" -print_final_stats=1 "$corpus"
