#!/usr/bin/env bash
# Fault trees whose exact diagram does not fit in memory: the top-event
# probability of each benchmark tree named (default nus9601) at t = 1, read
# with -mef, printed with the bounds the program gives, with processor time
# and peak resident memory of the run. Each run is limited to LIMIT_KB of
# address space (default 6000000, about 5.7 GB), which is also what the
# program sees as the memory available.
#
#   bench/ftree_bounds.sh BIN [TREE ...]        e.g. bench/ftree_bounds.sh build/corvel nus9601
# Environment: LIMIT_KB, ARALIA (folder of the .xml files, default
# tests/data/aralia beside this script), CORVEL_FTREE_NODE_BUDGET (passed on:
# a smaller node budget, to watch the bounds on trees that do fit).
set -u
bin=$1
shift
trees=("$@")
[ ${#trees[@]} -eq 0 ] && trees=(nus9601)
here=$(cd "$(dirname "$0")" && pwd)
folder=${ARALIA:-$here/../tests/data/aralia}
limit=${LIMIT_KB:-6000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tree in "${trees[@]}"; do
  xml=$folder/$tree.xml
  name=$(grep -o '<define-fault-tree name="[^"]*"' "$xml" | head -1 | sed 's/.*name="//; s/"$//')
  printf 'format 8\nepsilon results 1e-300\nvalue(1; %s)\n' "$name" > "$work/q.crv"
  ( ulimit -v "$limit"; /usr/bin/time -v "$bin" -mef "$xml" "$work/q.crv" > "$work/out" 2> "$work/time" )
  status=$?
  user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
  sys=$(sed -n 's/.*System time (seconds): //p' "$work/time")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  echo "== $tree (status $status, user $user s, system $sys s, peak $((rss / 1024)) MB)"
  grep -E 'bound|value\(|warning|error|stopped' "$work/out"
done
