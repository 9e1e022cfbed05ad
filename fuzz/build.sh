#!/usr/bin/env bash
# Builds the libFuzzer target with Debian's clang 14 (address and undefined-behaviour
# sanitizers) and runs it for FUZZ_SECONDS (default 60) from a small generated corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/fuzz
mkdir -p "$out/corpus"
sources=(src/core/*.cpp src/types/*.cpp src/io/*.cpp src/parser/*.cpp)
clang++-14 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -ffp-contract=off -Isrc fuzz/fuzz_parsers.cpp "${sources[@]}" -o "$out/fuzz_parsers"
# Seeds: one minimal well-formed input per reader.
printf '\x00\xff\x00\x00\x04\x00\x02\x10\x00' > "$out/corpus/dzt"
printf '\x01$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n' > "$out/corpus/dzg"
{ printf '\x02NUMBEROFPTS=4\nBITSPERSAMPLE=16\n\xff'; head -c 300 /dev/zero; } > "$out/corpus/dt1"
{ printf '\x03SAMPLES:4\nLAST TRACE:3\n\xff'; head -c 24 /dev/zero; } > "$out/corpus/mala"
{ printf '\x05NR 2\nNC 3\nZIGZAG true\n\xff'; head -c 12 /dev/zero; } > "$out/corpus/grd"
"$out/fuzz_parsers" -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=4096 -max_len=8192 \
  "$out/corpus" 2>&1 | tail -n 5
