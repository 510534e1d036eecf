#!/usr/bin/env bash
# A chapter download cut off at 30 %, 60 % and 90 %, resumed by the client
# (hopwell --headless kelv:open:...) and by curl -C - (the reference), against one clean
# download by each, in the same run and from the same simulator. Then the time a cancel
# takes: SIGINT to a headless open, save, install and esef whose transfer the server holds
# back, until the process has ended (the transfer stopped, the chapter unlocked, the summary
# printed).
#
# Reports for each side: seconds, the body bytes the simulator sent (its request log's
# bytes_sent), their ratio to one clean download (target below 1.10), whether the archive
# came out byte for byte the same, and the Range requests. For the cancel, per command: the
# slowest and the median of CANCELS runs, and whether the chapter's lock was released every time.
#
# Usage: bench/run_resume_bench.sh [BUILD_DIR] [MIB] [CANCELS]   (default build/default,
#        1024 MiB, 20 cancels per command). Run it under the build lock: /work/bin/hw-locked bench/...
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build/default}")"
mib="${2:-1024}"
cancels="${3:-20}"
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

# The time a cancel takes while the server holds each command's transfer back (it answers
# only after 30 s, so no byte moves): SIGINT once the transfer is under way, until the process
# has ended. The save's request and working files are written afresh for every run; the
# install runs with an empty application-data folder, so that it downloads the package.
write_save_request() {  # $1 TMPDIR
  python3 - "$1/Kelv" <<'PY'
import os, sys
kelv = sys.argv[1]
chapter = os.path.join(kelv, "space", "12")
upload = os.path.join(kelv, "upload", "7")
os.makedirs(chapter, exist_ok=True)
os.makedirs(upload, exist_ok=True)
with open(os.path.join(chapter, "doc.indd"), "wb") as out:
    out.write(os.urandom(3 << 20))
with open(os.path.join(upload, "cgu_7.xml"), "w") as out:
    out.write('<?xml version="1.0"?>\n<SaveRequest version="1"><IDS>space</IDS><TPVID>12</TPVID>'
              '<Token>bench</Token><URL>http://127.0.0.1:18080</URL><AppVersion>21.0</AppVersion>'
              '<WorkingFolderName>12</WorkingFolderName><UploadFilesList><Archive>'
              '<File Type="INDD" Name="doc.indd" Path="%s" Size="%d"/></Archive>'
              '</UploadFilesList></SaveRequest>\n' % (os.path.join(chapter, "doc.indd"), 3 << 20))
PY
}
cancel_once() {  # $1 command, $2 text the client prints once the transfer is about to start
  rm -rf "$work/tmp"; mkdir -p "$work/tmp"
  local app="$work/appdata" start end
  case "$1" in
    kelv:save:*) write_save_request "$work/tmp" ;;
    kelv:install:*) app="$work/tmp/appdata" ;;
  esac
  APPDATA="$app" TMPDIR="$work/tmp" "$client" --headless "$1" >"$work/cancel.out" 2>&1 &
  pid=$!
  for _ in $(seq 1 3000); do
    grep -q "$2" "$work/cancel.out" 2>/dev/null && break
    sleep 0.01
  done
  # The request is sent and waits for the server; the cancel lands at a random point of a second.
  sleep "$(python3 -c 'import random; print(round(random.uniform(0.3, 1.3), 3))')"
  start=$(date +%s.%N)
  kill -INT "$pid"
  wait "$pid" || true
  end=$(date +%s.%N)
  python3 -c "print('%.3f' % ($end - $start))"
}
cancel_command() {  # $1 label, $2 scenario, $3 command, $4 trigger text
  local times=() released=yes holders
  control /_sim/scenario/clear '{}'
  control /_sim/scenario "$2"
  for _ in $(seq 1 "$cancels"); do
    times+=("$(cancel_once "$3" "$4")")
    holders=$(curl -sf "$base/_sim/chapter/locks" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["holders"]))')
    [ "$holders" = 0 ] || released=no
  done
  python3 -c "
import statistics, sys
times = [float(t) for t in sys.argv[3:]]
print('cancel %-8s max %.3f s, median %.3f s over %d runs (SIGINT to exit; target < 0.3 s); chapter lock released every time: %s'
      % (sys.argv[1], max(times), statistics.median(times), len(times), sys.argv[2]))" "$1" "$released" "${times[@]}"
  grep -h "^Error\|Cancelled" "$work/cancel.out" | tail -1 | sed 's/^/    last run: /'
}

held='"mode": "delay", "delay": 30'
echo "cancel: SIGINT while the server holds the transfer back, $cancels times per command..."
cancel_command open "{$held, \"path\": \"$path\"}" "kelv:open:$base:bench-token" "Downloading file 1 of"
cancel_command save "{$held, \"path\": \"/api/v2/ext/upload\"}" "kelv:save:7:key" "Uploading chapter"
cancel_command install "{$held, \"path_prefix\": \"/api/v2/ext/plugin/package/\"}" \
  "kelv:install:http:%2F%2F127.0.0.1:18080%2Fapi%2Fv2%2Fext%2Fplugin%2Finstall_parameters" "Installing..."
cancel_command esef "{$held, \"path_prefix\": \"/esef/files/\"}" "kelv:esef:$base/esef/reports/2025:bench" "Downloading file 1 of"
