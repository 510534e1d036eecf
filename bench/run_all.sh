#!/usr/bin/env bash
# Runs the storage, HTTP, open and save benchmarks one after the other and prints one table
# of every ratio they report, with the machine they ran on. Each script's whole output goes
# to OUT_DIR (default: a new folder under /tmp) for the details.
#
# Usage: bench/run_all.sh [BUILD_DIR] [OUT_DIR]   (default build/default)
# Run it under the build lock, so that no build or test runs beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
out="${2:-$(mktemp -d /tmp/hopwell-bench-all.XXXXXX)}"
mkdir -p "$out"

for script in storage http open save; do
  echo "== $script (output in $out/$script.txt)"
  # The storage bench takes the folder of the benchmark programs, the others the build.
  target="$build"
  [ "$script" = storage ] && target="$build/bench"
  bash "bench/run_${script}_bench.sh" "$target" > "$out/$script.txt" 2>&1 ||
    { tail -n 20 "$out/$script.txt" >&2; exit 1; }
done

model=$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)
echo
echo "$(nproc) cores, ${model:-unknown CPU}; kernel $(uname -r); $(curl --version | head -n 1 | cut -d' ' -f1-2);" \
     "$(unzip -v 2>/dev/null | head -n 1 | cut -d' ' -f1-2); $(date -u +%Y-%m-%d)"
echo
echo "| Benchmark | Comparison | Hopwell | Reference | Result | Target |"
echo "|---|---|---|---|---|---|"
for script in storage http open save; do
  # Rows are "label  ours s  theirs s  ratio|speed X ...  target ..."; the indented ones
  # are details of the row above.
  python3 - "$script" "$out/$script.txt" <<'PY'
import re, sys
script, path = sys.argv[1], sys.argv[2]
row = re.compile(r"^(\S.*?)\s{2,}([\d.]+) (s|MiB/s)\s+([\d.]+) (s|MiB/s)\s+(ratio [\d.]+|speed [\d.]+ of \S+|200k/100k [\d.]+)\s+(target .*)$")
memory = re.compile(r"^(\S.*?)\s{2,}([\d.]+) MB\s+target (.*)$")
for line in open(path, errors="replace"):
    found = row.match(line.rstrip("\n"))
    peak = memory.match(line.rstrip("\n"))
    if peak:
        print("| %s | %s | %s MB | | | %s |" % ((script,) + peak.groups()))
    if found:
        label, ours, unit, theirs, unit2, result, target = found.groups()
        print("| %s | %s | %s %s | %s %s | %s | %s |" %
              (script, label, ours, unit, theirs, unit2, result, target[len("target "):]))
PY
done
