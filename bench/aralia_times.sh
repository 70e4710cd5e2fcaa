#!/usr/bin/env bash
# The benchmark fault trees solved end to end, one process per tree: the top
# probability (`corvel -mef FILE query`, 0.01 per event unless the file says
# otherwise), processor seconds (user + system) and peak resident memory
# from /usr/bin/time -v, and the nodes of the order-free diagrams (all
# module diagrams together) from corvel_ftree_routes when it was built
# (-DCORVEL_BENCH=ON; a second run of the tree under the solver's adaptive
# order, left out with --no-nodes).
#
#   bench/aralia_times.sh BUILD_DIR [--no-nodes] [--skip NAME]... [--dir DIR] [TREE...]
#
# TREE names files of DIR (default tests/data/aralia) without ".xml"; with
# none given every tree runs. Each run is under an address-space limit of
# 6 GB (CORVEL_BENCH_VMEM in kB overrides it). The last line gives the
# totals, and the total over the eight slowest trees.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: aralia_times.sh BUILD_DIR [--no-nodes] [--skip NAME]... [--dir DIR] [TREE...]}
shift
corvel=$build/corvel
routes=$build/bench/corvel_ftree_routes
dir=$here/../tests/data/aralia
nodes=1
skip=" "
trees=()
while [ $# -gt 0 ]; do
    case $1 in
        --no-nodes) nodes=0 ;;
        --skip) skip="$skip$2 "; shift ;;
        --dir) dir=$2; shift ;;
        *) trees+=("$1") ;;
    esac
    shift
done
[ -x "$corvel" ] || { echo "no $corvel" >&2; exit 1; }
[ -x "$routes" ] || nodes=0
if [ ${#trees[@]} -eq 0 ]; then
    for f in "$dir"/*.xml; do trees+=("$(basename "$f" .xml)"); done
fi
vmem=${CORVEL_BENCH_VMEM:-6000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-10s %16s %10s %8s %8s\n' tree probability nodes CPU_s peak_MB
for t in "${trees[@]}"; do
    case $skip in *" $t "*) continue ;; esac
    xml=$dir/$t.xml
    name=$(sed -n 's/.*<define-fault-tree name="\([^"]*\)".*/\1/p' "$xml" | head -n 1)
    # The name as the translation writes it.
    name=$(printf '%s' "$name" | LC_ALL=C sed 's/[^A-Za-z0-9_.]/_/g; s/^\([^A-Za-z]\)/n\1/')
    printf 'format 8\nepsilon results 1e-300\nvalue(1; %s)\n' "$name" > "$work/q.crv"
    (ulimit -v "$vmem"; /usr/bin/time -v "$corvel" -mef "$xml" "$work/q.crv") > "$work/out" 2> "$work/time"
    status=$?
    user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
    sys=$(sed -n 's/.*System time (seconds): //p' "$work/time")
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
    cpu=$(awk -v u="${user:-0}" -v s="${sys:-0}" 'BEGIN { printf "%.2f", u + s }')
    mb=$(awk -v k="${kb:-0}" 'BEGIN { printf "%.0f", k / 1024 }')
    prob=$(sed -n 's/.*value(1; [^)]*):[[:space:]]*\([^[:space:]]*\).*/\1/p' "$work/out" | head -n 1)
    [ $status -eq 0 ] && [ -n "$prob" ] || prob="status_$status"
    n=-
    if [ $nodes -eq 1 ] && [ $status -eq 0 ]; then
        "$corvel" -mef-crv "$xml" > "$work/t.crv" 2> /dev/null
        n=$( (ulimit -v "$vmem"; "$routes" --routes free/adaptive --timeout 600 "$work/t.crv") | awk 'NR == 2 { print $4 }')
    fi
    printf '%-10s %16s %10s %8s %8s\n' "$t" "$prob" "${n:--}" "$cpu" "$mb"
done | tee "$work/table"
total=$(awk 'NR > 1 { t += $4 } END { printf "%.2f", t }' "$work/table")
top=$(awk 'NR > 1 { print $4 }' "$work/table" | sort -g -r | head -n 8 | awk '{ t += $1 } END { printf "%.2f", t }')
echo "total CPU $total s, the eight slowest $top s"
