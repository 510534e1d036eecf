#!/usr/bin/env bash
# Process detection with 2000 extra processes: FindRunningProcess (bench_process_scan) beside
# `pgrep -f` doing the same lookup (the application's path in a process's command line).
# The application is a copy of the stand-in editing application, started after the others,
# so both scans meet it late; the absent case scans everything. A script application
# ("#!/usr/bin/env -S sh -e", so the process is "sh -e SCRIPT") is looked for as well.
# Builds nothing: bench_process_scan and the stand-in must exist.
# Usage: bench/run_process_bench.sh [build folder]   (default build/default)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/default}"
count="${PROCESSES:-2000}"
runs=50
for program in "$build/bench/bench_process_scan" "$build/tools/standin/InDesign.exe"; do
  [ -x "$program" ] || { echo "missing $program (build it first)" >&2; exit 2; }
done

data="$(mktemp -d "${TMPDIR:-/tmp}/hopwell-process-bench.XXXXXX")"
pids=()
cleanup() {
  [ "${#pids[@]}" -gt 0 ] && kill "${pids[@]}" 2> /dev/null || true
  wait 2> /dev/null || true
  rm -rf "$data"
}
trap cleanup EXIT

for _ in $(seq "$count"); do
  sleep 600 &
  pids+=($!)
done
cp "$build/tools/standin/InDesign.exe" "$data/InDesign.exe"
cp "$build/tools/standin/InDesign.exe" "$data/Idle.exe"
"$data/InDesign.exe" --record "$data/record.log" --stay 600 &
pids+=($!)
printf '#!/usr/bin/env -S sh -e\ntrap "kill \\$!; exit 0" TERM\nsleep 600 &\nwait\n' > "$data/InCopy.sh"
chmod 0700 "$data/InCopy.sh"
"$data/InCopy.sh" &
pids+=($!)
until [ -s "$data/record.log" ]; do sleep 0.05; done
echo "processes: $(ls -d /proc/[0-9]* | wc -l)"

HOPWELL_BENCH_TARGET="$data/InDesign.exe" HOPWELL_BENCH_SCRIPT="$data/InCopy.sh" \
  HOPWELL_BENCH_IDLE="$data/Idle.exe" \
  "$build/bench/bench_process_scan" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# pgrep: wall time per lookup, the mean of $runs runs, process start included.
time_pgrep() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$runs"); do pgrep -f "$1" > /dev/null || true; done
  end=$(date +%s%N)
  echo "pgrep -f $2: $(( (end - start) / runs / 1000 )) us per lookup"
}
time_pgrep "$data/InDesign.exe" "(present)"
time_pgrep "$data/InCopy.sh" "(script)"
time_pgrep "$data/Idle.exe" "(absent)"
