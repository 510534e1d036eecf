#!/usr/bin/env bash
# A chapter download cut off at 30 %, 60 % and 90 %, resumed by the client
# (hopwell --headless kelv:open:...) and by curl -C - (the reference), against one clean
# download by each, in the same run and from the same simulator. Then the time a cancel
# takes: SIGINT to a headless open in the middle of its download until the process has ended
# (the transfer stopped, the chapter unlocked, the summary printed).
#
# Reports for each side: seconds, the body bytes the simulator sent (its request log's
# bytes_sent), their ratio to one clean download (target below 1.10), whether the archive
# came out byte for byte the same, and the Range requests. For the cancel: the slowest of
# CANCELS runs and whether the server's lock was released every time.
#
# Usage: bench/run_resume_bench.sh [BUILD_DIR] [MIB] [CANCELS]   (default build/default,
#        1024 MiB, 5 cancels). Run it under the build lock: /work/bin/hw-locked bench/...
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build/default}")"
mib="${2:-1024}"
cancels="${3:-5}"
client="$build/src/hopwell"
[ -x "$client" ] || { echo "missing $client: build first" >&2; exit 1; }
command -v curl >/dev/null 2>&1 || { echo "curl is needed (apt-get install curl)" >&2; exit 1; }

work="$(mktemp -d /tmp/hopwell-resume-bench.XXXXXX)"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

base="http://127.0.0.1:18080"
HOPWELL_BINARY_DIR="$build" python3 tools/simulator/simulator.py --https-port 0 \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 600); do
  curl -sf "$base/_sim/health" >/dev/null 2>&1 && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
  sleep 0.2
done
control() {  # $1 path, $2 JSON body
  curl -sf -X POST -d "$2" "$base$1" >/dev/null
}
path="/api/v2/ext/chapter/tpv-1/files/chapter.zip"
control /_sim/chapter "{\"archive_bytes\": $((mib * 1024 * 1024))}"
echo "making a $mib MiB chapter archive..."
curl -sf "$base/api/v2/ext/chapter/download_parameters" >/dev/null
size=$(curl -sf -o /dev/null -w "%{size_download}" "$base$path")
cut=$((size * 3 / 10))

export APPDATA="$work/appdata" HOPWELL_STANDIN_RECORD="$work/standin.log"
# Body bytes the simulator sent for the archive, and its Range requests.
sent() {
  curl -sf "$base/_sim/requests" | python3 -c '
import json, sys
rows = [r for r in json.load(sys.stdin) if r["path"] == sys.argv[1]]
ranges = [v for r in rows for k, v in r["headers"] if k.lower() == "range"]
print(sum(r.get("bytes_sent", 0) for r in rows), len(rows), ",".join(ranges) or "-")' "$path"
}
client_open() {  # $1 TMPDIR; prints seconds
  rm -rf "$1"; mkdir -p "$1"
  local start end
  start=$(date +%s.%N)
  TMPDIR="$1" "$client" --headless "kelv:open:$base:bench-token" >"$work/client.out" 2>&1 ||
    { cat "$work/client.out" >&2; exit 1; }
  end=$(date +%s.%N)
  python3 -c "print('%.2f' % ($end - $start))"
}
curl_resume() {  # $1 output file; curl -C - until the file is whole; prints seconds
  rm -f "$1"
  local start end
  start=$(date +%s.%N)
  for _ in 1 2 3 4 5; do
    curl -s -C - -o "$1" "$base$path" && break || true
  done
  end=$(date +%s.%N)
  python3 -c "print('%.2f' % ($end - $start))"
}
report() {  # label seconds bytes requests ranges same
  python3 -c "
import sys
label, seconds, sent, requests, ranges, same = sys.argv[1:7]
print('%-24s %7s s  %14s bytes sent = %.3fx one download, %s request(s), same bytes: %s, ranges: %s'
      % (label, seconds, sent, int(sent) / $size, requests, same, ranges))" "$@"
}

echo "warm-up open (installs the plug-ins)..."
client_open "$work/tmp" >/dev/null
reference="$work/tmp/Kelv/space-1/tpv-1/chapter.zip"
mv "$reference" "$work/clean.zip"

# One download, clean or cut at 30, 60 and 90 %, and its row: label, 0 or 1 (cut), the file the
# download ends in, then the command that downloads (it prints its seconds).
run_case() {
  local label=$1 cut_it=$2 file=$3 seconds bytes count ranges same
  shift 3
  control /_sim/requests/clear '{}'
  if [ "$cut_it" = 1 ]; then
    control /_sim/scenario "{\"mode\": \"cut\", \"bytes\": $cut, \"count\": 3, \"path\": \"$path\"}"
  fi
  seconds=$("$@")
  read -r bytes count ranges < <(sent)
  cmp -s "$work/clean.zip" "$file" && same=yes || same=no
  report "$label" "$seconds" "$bytes" "$count" "$ranges" "$same"
}

run_case "client, clean" 0 "$reference" client_open "$work/tmp"
run_case "client, cut 30/60/90 %" 1 "$reference" client_open "$work/tmp"
grep -h "Resuming chapter.zip" "$work"/tmp/Kelv/Hopwell/*.log | sed 's/^/    /'
rm -rf "$work/tmp"
run_case "curl, clean" 0 "$work/curl.zip" curl_resume "$work/curl.zip"
run_case "curl -C -, cut 30/60/90 %" 1 "$work/curl.zip" curl_resume "$work/curl.zip"
rm -f "$work/curl.zip"

echo "cancel: SIGINT in the middle of the download, $cancels times..."
control /_sim/scenario/clear '{}'
control /_sim/scenario "{\"mode\": \"slow\", \"chunk\": 65536, \"delay\": 0.01, \"path\": \"$path\"}"
slowest=0
released=yes
for _ in $(seq 1 "$cancels"); do
  rm -rf "$work/tmp"; mkdir -p "$work/tmp"
  TMPDIR="$work/tmp" "$client" --headless "kelv:open:$base:bench-token" >"$work/cancel.out" 2>&1 &
  pid=$!
  # The archive arrives as chapter.zip.part and is renamed once whole.
  archive="$work/tmp/Kelv/space-1/tpv-1/chapter.zip"
  for _ in $(seq 1 3000); do
    [ -s "$archive.part" ] && break
    sleep 0.01
  done
  start=$(date +%s.%N)
  kill -INT "$pid"
  wait "$pid" || true
  end=$(date +%s.%N)
  slowest=$(python3 -c "print('%.3f' % max($slowest, $end - $start))")
  holders=$(curl -sf "$base/_sim/chapter/locks" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["holders"]))')
  [ "$holders" = 0 ] || released=no
  { [ -e "$archive" ] || [ -e "$archive.part" ]; } && released="$released (an archive was left behind)"
done
echo "cancel: slowest SIGINT-to-exit $slowest s over $cancels runs; lock released every time: $released"
