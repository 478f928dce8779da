#!/usr/bin/env bash
# Runs a GoogleTest program and passes only when the program finished its whole run:
#   gtest-check.sh REPORT.xml COMMAND [ARGS...]
# COMMAND gets --gtest_output=xml:REPORT.xml appended. The verdict is "passed" only when
# the program exits with 0, wrote the report during this very run, the report counts no
# failure, and at least one test ran to its end.
# The exit code alone proves nothing: wine exits with 0 when its process is killed (for
# example by `wineserver -k` or TerminateProcess(..., 0)), and GoogleTest prints its
# "[  PASSED  ]" count even when other tests failed. A run that never reaches its end
# writes no report, so a stale report is removed first.
# REPORT.xml should be relative (to the working folder): the program may be a Windows one.
set -uo pipefail

fail() {
  echo "gtest-check: FAILED: $*" >&2
  exit 1
}

(($# >= 2)) || fail "usage: gtest-check.sh REPORT.xml COMMAND [ARGS...]"
report=$1
shift

mkdir -p "$(dirname "$report")"
rm -f "$report"
[ ! -e "$report" ] || fail "cannot remove the old report $report"

"$@" "--gtest_output=xml:$report"
status=$?

((status == 0)) || fail "the program exited with $status"
[ -s "$report" ] || fail "the program wrote no report ($report): it did not finish its run"

summary=$(grep -m1 -o '<testsuites [^>]*>' "$report") || fail "$report has no <testsuites> summary"
count() { sed -n "s/.* $1=\"\([0-9][0-9]*\)\".*/\1/p" <<<"$summary"; }
tests=$(count tests)
failures=$(count failures)
errors=$(count errors)
[ -n "$tests" ] && [ -n "$failures" ] || fail "$report has no test or failure counts"
failure_entries=$(grep -c '<failure ' "$report")
completed=$(grep -c '<testcase .* status="run" result="completed"' "$report")

((failures == 0 && ${errors:-0} == 0 && failure_entries == 0)) ||
  fail "$failures failed, ${errors:-0} errors, $failure_entries failure entries in $report"
((completed > 0)) || fail "no test ran to its end ($tests selected, none completed)"
echo "gtest-check: passed: $completed of $tests tests ran to their end, none failed"
