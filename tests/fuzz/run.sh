#!/usr/bin/env bash
# Builds the fuzz target over the server's reading of client bytes with clang (libFuzzer, ASan,
# UBSan) into build/fuzz and runs it: tests/fuzz/run.sh [SECONDS] (default 600). Crashes land in
# build/fuzz/crashes/; the corpus grows in build/fuzz/corpus/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
out=build/fuzz
mkdir -p "$out/corpus" "$out/crashes"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Iserver tests/fuzz/HeadFuzz.cpp server/HeadScanner.cpp server/ByteRanges.cpp -o "$out/head-fuzz"
for seed in "GET / HTTP/1.1\r\nHost: a\r\n\r\n" \
  "GET /a HTTP/2.0\r\nX: a\r\n b\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: +5\r\n\r\n" \
  "bytes=0-9\0\"abc\"\0\0Sun, 06 Nov 1994 08:49:37 GMT\0*\0Sunday, 06-Nov-94 08:49:37 GMT"; do
  printf '\x07%b' "$seed" >"$out/corpus/seed-$(printf '%s' "$seed" | md5sum | cut -c1-8)"
done
exec "$out/head-fuzz" -max_total_time="${1:-600}" -max_len=4096 -artifact_prefix="$out/crashes/" \
  -print_final_stats=1 "$out/corpus"
