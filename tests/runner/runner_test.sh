#!/usr/bin/env bash
# The golden runner must pass correct cases and fail broken ones: a syntax
# error or an early stop that the case does not declare, output that
# differs, a wrong exit status.
#   runner_test.sh PROGRAM
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../golden/run_case.sh"
pass="good ends_with_end declared_stop no_final_newline"
fail="broken_parse undeclared_stop wrong_output wrong_status"
bad=0
for c in $pass; do
  if ! "$runner" "$bin" "$here/cases/$c.crv" > /dev/null; then
    echo "runner failed the correct case $c:"
    "$runner" "$bin" "$here/cases/$c.crv" | head -20
    bad=1
  fi
done
for c in $fail; do
  if "$runner" "$bin" "$here/cases/$c.crv" > /dev/null; then
    echo "runner passed the broken case $c"
    bad=1
  fi
done
exit $bad
