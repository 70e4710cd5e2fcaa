#!/usr/bin/env bash
# The progress line of long analyses: shown on a terminal (run under a
# pseudo-terminal with script), taken away again, and never written when
# standard error is redirected, where the output stays byte for byte the
# golden one.
#   progress_tty.sh PROGRAM GOLDEN_FOLDER
# Without script (util-linux) the terminal part is skipped (status 77),
# except in continuous integration (CI set), where it fails.
set -u
# The program is run from other folders: its path is made absolute.
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cases=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# Redirected: nothing on standard error, the golden output on standard output.
for model in "$cases"/*.crv; do
  name=$(basename "$model" .crv)
  (cd "$cases" && "$bin" "$name.crv" > "$work/$name.out" 2> "$work/$name.err" < /dev/null)
  if [ -s "$work/$name.err" ]; then
    echo "$name: standard error is not empty when redirected:"
    head -5 "$work/$name.err" | od -c | head -10
    fail=1
  fi
  if ! cmp -s "$cases/$name.out" "$work/$name.out"; then
    echo "$name: redirected output differs from $name.out"
    diff -u "$cases/$name.out" "$work/$name.out" | head -20
    fail=1
  fi
done

if ! command -v script >/dev/null; then
  if [ -n "${CI:-}" ]; then
    echo "script is missing"
    exit 1
  fi
  echo "skipped: script is not installed"
  exit "$([ "$fail" = 0 ] && echo 77 || echo 1)"
fi

# On a terminal: the activity's line appears, is erased with blanks, and the
# result follows on a clean line. Standard output alone on the terminal, with
# standard error redirected, gets no progress at all.
cr=$'\r'
check_tty() {
  local name=$1 activity=$2 result=$3
  (cd "$cases" && script -qec "'$bin' $name.crv" /dev/null < /dev/null > "$work/$name.tty")
  local text
  text=$(cat "$work/$name.tty")
  if [[ "$text" != *"$cr$activity: "[0-9]* ]]; then
    echo "$name: no progress line \"$activity\" on the terminal:"
    od -c "$work/$name.tty" | head -12
    fail=1
  fi
  if [[ "$text" != *"$cr$activity: "*"$cr "*"$cr$result"* ]]; then
    echo "$name: the progress line is not erased before \"$result\":"
    od -c "$work/$name.tty" | head -12
    fail=1
  fi
  (cd "$cases" && script -qec "'$bin' $name.crv 2> '$work/$name.err2'" /dev/null < /dev/null > "$work/$name.tty2")
  if [ -s "$work/$name.err2" ]; then
    echo "$name: progress written to redirected standard error"
    fail=1
  fi
  if grep -q "$activity" "$work/$name.tty2"; then
    echo "$name: progress on the terminal although standard error is redirected"
    fail=1
  fi
}

check_tty net_steady "reachability graph" "etok(av, up):"
check_tty chain_steady "SOR" "prob(m, up):"
check_tty chain_transient "uniformization" "tvalue(2; m, up):"
check_tty bdd_graph "BDD construction" "value(1; g):"
check_tty path_graph "path enumeration" "value(1; g):"
exit $fail
