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
# "early": the run ends early while a program it started still runs (killed from inside,
# crashed, or killed from Linux: "sigkill"); it must be failed within 10 s of the child's
# start, its output closed, so nothing it started may still run.
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
  "early   child     --gtest_filter=Probe.Passes:Probe.KilledBesideAChild"
  "early   child     --gtest_filter=Probe.Passes:Probe.CrashesBesideAChild --gtest_catch_exceptions=0"
  "sigkill child     --gtest_filter=Probe.Passes:Probe.WaitsBesideAChild"
)
# The killed run comes right after a good one with the same report: the report that the
# good run left must not count for the killed one.

# The Wine process (not the scripts around it) whose command line holds WORD.
wine_process_of() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == */wine* ]] && echo "$pid"
  done
}

# Runs a case whose probe starts a child; prints the verdict, or "slow" when the run was not
# over (output closed) within 10 s of the child's start.
run_early_case() {
  local kind=$1 log=$2
  shift 2
  # Emptied first: a line that an earlier run left must not be read as this run's.
  : >"$log"
  # Through a pipe, as under ctest: the run is over only when every holder of it is gone.
  (bash "$checker" "$@" 2>&1 | cat >"$log") &
  local run=$! started=$SECONDS
  until grep -q '^child running' "$log" 2>/dev/null; do
    kill -0 "$run" 2>/dev/null || break
    ((SECONDS - started < 60)) || break
    sleep 0.1
  done
  local since=$SECONDS
  if [ "$kind" = sigkill ]; then
    # The script that starts Wine carries the same words until it has become Wine.
    local wine=
    while [ -z "$wine" ] && ((SECONDS - since <= 10)); do
      wine=$(wine_process_of WaitsBesideAChild)
      [ -n "$wine" ] || sleep 0.1
    done
    [ -z "$wine" ] || kill -KILL $wine 2>/dev/null
  fi
  while kill -0 "$run" 2>/dev/null && ((SECONDS - since <= 10)); do sleep 0.1; done
  if kill -0 "$run" 2>/dev/null; then
    echo slow
    pkill -KILL -f -- 'Probe.Lingers' 2>/dev/null
    wait "$run"
  elif wait "$run"; then
    echo passed
  else
    echo failed
  fi
}

wrong=0
for i in "${!cases[@]}"; do
  read -r expected report args <<<"${cases[$i]}"
  read -ra args <<<"$args"
  log=$reports/case$i.log
  if [ "$expected" = early ] || [ "$expected" = sigkill ]; then
    verdict=$(run_early_case "$expected" "$log" "$reports/$report.xml" "${probe[@]}" "${args[@]}")
    [ "$verdict" = failed ] && verdict=$expected
  elif bash "$checker" "$reports/$report.xml" "${probe[@]}" "${args[@]}" >"$log" 2>&1; then
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
