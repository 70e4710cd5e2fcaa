#!/usr/bin/env bash
# Runs one golden case through the real program and compares its standard
# output with NAME.out and its exit status with NAME.status (0 when absent).
#   NAME.args   extra command-line arguments, placed before the model file
#   NAME.stdin  console input; the program then runs without a file argument
#   NAME.stops  the case is meant to stop reading before its last line (a
#               syntax error or a statement that ends the parse); the file
#               says why
# The case's folder is copied to a scratch folder first, so that include files
# resolve and files the program writes do not land in the source tree.
#
# A run that stops early looks like a finished one (status 0, the output so
# far), so unless the case is declared to stop, or to fail with a status, a
# final echo line is added to its input: its text must come out last, proving
# that every statement before it was read. After a top-level "end" the added
# line is a syntax error on exactly that line, which proves the same. The
# proof is taken off the output before it is compared.
set -u
bin=$1
case_file=$2
dir=$(cd "$(dirname "$case_file")" && pwd)
name=$(basename "$case_file" .crv)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$dir"/. "$work"/
cd "$work" || exit 1

args=()
if [ -f "$name.args" ]; then
  read -r -a args < "$name.args"
fi

expected_status=0
if [ -f "$name.status" ]; then
  expected_status=$(tr -d '[:space:]' < "$name.status")
fi

input="$name.crv"
[ -f "$name.stdin" ] && input="$name.stdin"
marker="golden case read to its end"
proof=0
if [ "$expected_status" = 0 ] && [ ! -f "$name.stops" ]; then
  proof=1
  # A last line without its line end gets one first.
  [ -s "$input" ] && [ "$(tail -c 1 "$input" | od -An -c | tr -d ' ')" != '\n' ] && echo >> "$input"
  proof_line=$(( $(wc -l < "$input") + 1 ))
  echo "echo $marker" >> "$input"
fi

if [ -f "$name.stdin" ]; then
  timeout 120 "$bin" "${args[@]}" < "$name.stdin" > actual.out 2> actual.err
  status=$?
else
  timeout 120 "$bin" "${args[@]}" "$name.crv" < /dev/null > actual.out 2> actual.err
  status=$?
fi

fail=0
if [ "$proof" = 1 ] && [ "$status" = 0 ]; then
  last=$(tail -n 1 actual.out)
  if [ "$last" = " $marker" ] ||
     [ "$last" = "parse error in file $input, line $proof_line" ] ||
     [ "$last" = "parse error in file STDIN, line $proof_line" ] ||
     [ "$last" = "parse error in line $proof_line" ]; then
    # Drops the proof line (and its line end) from the output.
    size=$(( $(wc -c < actual.out) - ${#last} - 1 ))
    head -c "$size" actual.out > actual.trimmed && mv actual.trimmed actual.out
  else
    echo "$case_file stopped before its last line (a syntax error or a statement that ends the parse);"
    echo "if that is the point of the case, say why in $name.stops"
    echo "last line of output: $last"
    fail=1
  fi
fi
if ! cmp -s "$name.out" actual.out; then
  echo "standard output differs for $case_file (--- expected, +++ actual):"
  diff -u "$name.out" actual.out | head -100
  fail=1
fi
if [ "$status" != "$expected_status" ]; then
  echo "exit status for $case_file: expected $expected_status, got $status"
  fail=1
fi
if [ "$fail" != 0 ] && [ -s actual.err ]; then
  echo "standard error:"
  head -20 actual.err
fi
exit $fail
