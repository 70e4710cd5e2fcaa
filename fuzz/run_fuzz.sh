#!/usr/bin/env bash
# Runs the parser fuzzer for a bounded time, seeded with every golden model.
#   run_fuzz.sh FUZZER SECONDS
set -eu
fuzzer=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
seconds=${2:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
find "$top/tests/golden" "$top/examples" -name '*.crv' -exec cp {} "$corpus"/ \;
mkdir -p "$top/fuzz-out"
cd "$top/fuzz-out"
"$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 "$corpus"
