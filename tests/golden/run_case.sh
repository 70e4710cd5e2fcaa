#!/usr/bin/env bash
# Runs one golden case through the real program and compares its standard
# output with NAME.out and its exit status with NAME.status (0 when absent).
#   NAME.args   extra command-line arguments, placed before the model file
#   NAME.stdin  console input; the program then runs without a file argument
# The case's folder is copied to a scratch folder first, so that include files
# resolve and files the program writes do not land in the source tree.
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

if [ -f "$name.stdin" ]; then
  timeout 120 "$bin" "${args[@]}" < "$name.stdin" > actual.out 2> actual.err
  status=$?
else
  timeout 120 "$bin" "${args[@]}" "$name.crv" < /dev/null > actual.out 2> actual.err
  status=$?
fi

expected_status=0
if [ -f "$name.status" ]; then
  expected_status=$(tr -d '[:space:]' < "$name.status")
fi

fail=0
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
