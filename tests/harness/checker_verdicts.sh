#!/usr/bin/env bash
# Checks gtest-check.sh's verdicts on a probe program that ends its run in every way a test
# program can: checker_verdicts.sh CHECKER PROBE_COMMAND...
# Passes only when the checker passes the good run and fails every other one.
set -uo pipefail
checker=$1
shift
probe=("$@")
reports=test-results/harness
mkdir -p "$reports"

# verdict  report  probe arguments
cases=(
  "passed  passes    --gtest_filter=Probe.Passes"
  "failed  passes    --gtest_filter=Probe.Passes:Probe.KilledHalfWay:Probe.AfterTheKill"
  "failed  fails     --gtest_filter=Probe.Passes:Probe.Fails"
  "failed  fails0    --gtest_filter=Probe.Passes:Probe.Fails --exit-code=0"
  "failed  exit3     --gtest_filter=Probe.Passes --exit-code=3"
  "failed  none      --gtest_filter=NoSuchSuite.*"
  "failed  skipped   --gtest_filter=Probe.Skips"
  "passed  mixed     --gtest_filter=Probe.Passes:Probe.Skips"
  "failed  crashed   --gtest_filter=Probe.Passes:Probe.Crashes --gtest_catch_exceptions=0"
)
# The killed run comes right after a good one with the same report: the report that the
# good run left must not count for the killed one.

wrong=0
for i in "${!cases[@]}"; do
  read -r expected report args <<<"${cases[$i]}"
  read -ra args <<<"$args"
  log=$reports/case$i.log
  if bash "$checker" "$reports/$report.xml" "${probe[@]}" "${args[@]}" >"$log" 2>&1; then
    verdict=passed
  else
    verdict=failed
  fi
  if [ "$verdict" = "$expected" ]; then
    echo "ok: ${args[*]} -> $verdict"
  else
    echo "WRONG: ${args[*]} -> $verdict, expected $expected; the checker said:"
    sed 's/^/    /' "$log"
    wrong=$((wrong + 1))
  fi
done
echo "$((${#cases[@]} - wrong)) of ${#cases[@]} verdicts right"
((wrong == 0))
