#!/usr/bin/env bash
# Runs every fuzz target for a share of a fixed time, each seeded from its
# corpus in fuzz/corpus/<target>/ (see fuzz/make_corpus.py).
#   run_fuzz.sh FUZZ_BUILD_DIR TOTAL_SECONDS [TARGET ...]
# TARGET names a target without its corvel_fuzz_ prefix; without any, every
# corvel_fuzz_* program in FUZZ_BUILD_DIR/fuzz runs.
#
# The search is nearly repeatable: every target runs FUZZ_RUNS inputs
# (default 3000) from the fixed seed FUZZ_SEED (default 1), in one process,
# and stops early only at its share of the time. The same build then tries
# much the same inputs on any machine (addresses and clocks shift the
# coverage a little, and the mutations with it), a slower machine fewer of
# them, and never more than FUZZ_RUNS. FUZZ_SEED=0 lets libFuzzer pick a
# seed, for searches beyond the repeatable one. A crash,
# sanitizer report, leak, timeout or memory blow-up ends that target's
# search; its input is left in fuzz-out/<target>/ (crash-*, leak-*,
# timeout-*, oom-*), listed at the end, and makes the script exit 1. New
# interesting inputs go to a scratch folder; the corpus in the tree is only
# read.
set -eu
build=$(cd "$1" && pwd)
total=${2:-60}
shift 2 || shift $#
top=$(cd "$(dirname "$0")/.." && pwd)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/fuzz/corvel_fuzz_*; do
    [ -f "$f" ] && [ -x "$f" ] && targets+=("${f##*/corvel_fuzz_}")
  done
fi
[ ${#targets[@]} -gt 0 ] || { echo "run_fuzz.sh: no fuzz targets in $build/fuzz" >&2; exit 2; }
share=$(( total / ${#targets[@]} ))
[ "$share" -ge 5 ] || share=5

# Every input ends within a second under the work cap of the harness; the
# timeout leaves room for the sanitizers and a loaded machine.
per_input_timeout=${FUZZ_TIMEOUT:-10}
seed=${FUZZ_SEED:-1}
runs=${FUZZ_RUNS:-3000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Results of an earlier run must not fail this one.
out="$top/fuzz-out"
rm -rf "$out"
mkdir -p "$out"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

start=$(date +%s)
for t in "${targets[@]}"; do
  fuzzer="$build/fuzz/corvel_fuzz_$t"
  seeds="$top/fuzz/corpus/$t"
  [ -d "$seeds" ] || seeds="$top/fuzz/corpus/parser"
  mkdir -p "$scratch/$t" "$out/$t"
  echo "== fuzz $t: ${share}s, seeds $(ls "$seeds" | wc -l) from ${seeds#$top/}"
  # Every seed once first: a faulty seed is recorded and set aside, and the
  # rest are run again, so that the search starts from seeds that pass.
  clean="$scratch/$t-seeds"
  cp -R "$seeds" "$clean"
  for attempt in $(seq 1 20); do
    before=$(ls "$out/$t" | wc -l)
    if "$fuzzer" -runs=0 -timeout="$per_input_timeout" -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=8192 \
         -artifact_prefix="$out/$t/" "$clean" > "$out/$t/seeds-$attempt.txt" 2>&1; then
      rm -f "$out/$t/seeds-$attempt.txt"
      break
    fi
    found_now=$(ls -t "$out/$t" | grep -E '^(crash|leak|timeout|oom)-' | head -1)
    [ -n "$found_now" ] && [ "$(ls "$out/$t" | wc -l)" -gt "$before" ] || break
    echo "   seed fault: $found_now"
    sum=$(sha1sum < "$out/$t/$found_now" | cut -d' ' -f1)
    for f in "$clean"/*; do
      [ "$(sha1sum < "$f" | cut -d' ' -f1)" = "$sum" ] && rm -f "$f"
    done
  done
  # One process, a fixed seed and a fixed number of inputs: repeatable.
  "$fuzzer" -seed="$seed" -runs="$runs" -max_total_time="$share" -timeout="$per_input_timeout" \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=8192 -artifact_prefix="$out/$t/" -print_final_stats=1 \
    "$scratch/$t" "$clean" > "$out/$t/log.txt" 2>&1 || true
  grep -E "^(#[0-9]+[[:space:]]+DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::new_units_added|==[0-9]+== ERROR|SUMMARY)" \
    "$out/$t/log.txt" | tail -4 || true
done
echo "fuzzing took $(( $(date +%s) - start ))s for ${#targets[@]} targets"

found=$(find "$out" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \
        \) | sort)
if [ -n "$found" ]; then
  echo "fuzzing found faults; the inputs are kept in ${out#$top/}/:"
  echo "$found" | sed "s|^$top/||"
  exit 1
fi
echo "no faults found"
