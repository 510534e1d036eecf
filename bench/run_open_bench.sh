#!/usr/bin/env bash
# Open of a chapter whose archive is 256 MiB of mixed content (deflated text, stored
# pictures), by the client (hopwell --headless kelv:open:...) against curl -o plus
# unzip -j -o of the same archive, in the same run and from the same simulator.
#
# Before timing: one open as warm-up (installs the plug-ins into the bench's own APPDATA and
# makes the simulator build its archive), and curl -o /dev/null of the archive alone to show
# the server's rate. Then RUNS rounds (at least 5) in which the two sides take turns at going
# first. Reports the median of each side, the ratios against the targets, peak RSS
# (/usr/bin/time), and the client's split between download and extraction read from its
# log's time stamps.
#
# Usage: bench/run_open_bench.sh [BUILD_DIR] [RUNS]   (default build/default, 5 rounds)
# Run it under the build lock: flock /tmp/hopwell-build.lock bench/run_open_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build/default}")"
runs="${2:-5}"
[ "$runs" -ge 5 ] || runs=5
client="$build/src/hopwell"
[ -x "$client" ] || { echo "missing $client: build first" >&2; exit 1; }
need=()
[ -x /usr/bin/time ] || need+=(time)
command -v curl >/dev/null 2>&1 || need+=(curl)
command -v unzip >/dev/null 2>&1 || need+=(unzip)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

work="$(mktemp -d /tmp/hopwell-open-bench.XXXXXX)"
source scripts/lib/simulator.sh
cleanup() {
  stop_simulator
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

base="http://127.0.0.1:18080"
HOPWELL_BINARY_DIR="$build" start_simulator "$work/sim.log" --https-port 0 ||
  { cat "$work/sim.log" >&2; exit 1; }

size=$((256 * 1024 * 1024))  # the simulator makes an archive of about this size
curl -sf -X POST -d "{\"archive_bytes\": $size}" "$base/_sim/chapter" >/dev/null
# Makes the simulator build the archive (its size goes into the parameter document).
curl -sf "$base/api/v2/ext/chapter/download_parameters" >/dev/null
archive_url="$base/api/v2/ext/chapter/tpv-1/files/chapter.zip"

export APPDATA="$work/appdata" HOPWELL_STANDIN_RECORD="$work/standin.log"
client_open() {  # $1: folder for TMPDIR; prints "seconds peak_kib"
  rm -rf "$1"; mkdir -p "$1"
  TMPDIR="$1" /usr/bin/time -f "%e %M" -o "$work/time.txt" \
    "$client" --headless "kelv:open:$base:bench-token" >"$work/client.out" 2>&1 ||
    { cat "$work/client.out" >&2; exit 1; }
  cat "$work/time.txt"
}
reference_open() {  # prints "seconds peak_kib"
  rm -rf "$work/ref"; mkdir -p "$work/ref"
  /usr/bin/time -f "%e %M" -o "$work/curl.txt" curl -sf -o "$work/ref/chapter.zip" "$archive_url"
  /usr/bin/time -f "%e %M" -o "$work/unzip.txt" unzip -j -o -q "$work/ref/chapter.zip" -d "$work/ref"
  python3 - "$work/curl.txt" "$work/unzip.txt" <<'PY'
import sys
(a, am), (b, bm) = (open(p).read().split()[-2:] for p in sys.argv[1:3])
print("%.2f %d %.2f %.2f" % (float(a) + float(b), max(int(am), int(bm)), float(a), float(b)))
PY
}
# The client's download of the archive (its request to its last read) and extraction (from
# there to the request of the next file), from the time stamps of its log.
client_split() {
  python3 - "$1"/Kelv/Hopwell <<'PY'
import datetime, glob, sys
lines = []
for name in sorted(glob.glob(sys.argv[1] + "/Hopwell_*.log")):
    lines += [l for l in open(name, errors="replace").read().splitlines() if l[:4].isdigit()]
def stamp(line):
    return datetime.datetime.strptime(line[:26], "%Y-%m-%d %H:%M:%S.%f")
first = next(i for i, l in enumerate(lines) if "Cracking URL" in l and "chapter.zip" in l)
following = next(i for i, l in enumerate(lines) if "Cracking URL" in l and "notes.txt" in l)
read_end = max(i for i in range(first, following) if "Received " in lines[i])
print("%.2f %.2f" % ((stamp(lines[read_end]) - stamp(lines[first])).total_seconds(),
                     (stamp(lines[following]) - stamp(lines[read_end])).total_seconds()))
PY
}

echo "warm-up open..."
client_open "$work/tmp" >/dev/null
server=$( { /usr/bin/time -f "%e" curl -sf -o /dev/null "$archive_url"; } 2>&1 | tail -n 1)

rows="$work/rows.txt"
: > "$rows"
for round in $(seq 1 "$runs"); do
  if [ $((round % 2)) -eq 1 ]; then
    read -r c_s c_kib < <(client_open "$work/tmp")
    read -r r_s r_kib r_curl r_unzip < <(reference_open)
  else
    read -r r_s r_kib r_curl r_unzip < <(reference_open)
    read -r c_s c_kib < <(client_open "$work/tmp")
  fi
  read -r d_s e_s < <(client_split "$work/tmp" || echo "0 0")
  printf "round %d: client %.2f s (download %.2f, extract %.2f), %d KiB | curl+unzip %.2f s (%.2f + %.2f), %d KiB\n" \
    "$round" "$c_s" "$d_s" "$e_s" "$c_kib" "$r_s" "$r_curl" "$r_unzip" "$r_kib"
  echo "$c_s $c_kib $d_s $e_s $r_s $r_kib $r_curl $r_unzip" >> "$rows"
done

archive_bytes=$(curl -sf -o /dev/null -w "%{size_download}" "$archive_url")
python3 - "$archive_bytes" "$server" "$rows" <<'PY'
import statistics, sys
size, server = int(sys.argv[1]), float(sys.argv[2])
rows = [list(map(float, line.split())) for line in open(sys.argv[3]) if line.strip()]
c_s, c_kib, d_s, e_s, r_s, r_kib, r_curl, r_unzip = (
    statistics.median(column) for column in zip(*rows))
c_kib, r_kib = max(r[1] for r in rows), max(r[5] for r in rows)
mib = size / 1048576
print("median of %d alternating rounds" % len(rows))
print("archive %.1f MiB; server alone (curl -o /dev/null): %.2f s = %.0f MiB/s" % (mib, server, mib / server))
print("client: %.2f s (download %.2f s, extraction %.2f s), peak RSS %.1f MB" % (c_s, d_s, e_s, c_kib / 1024))
print("curl -o + unzip -j -o: %.2f s (%.2f + %.2f), peak RSS %.1f MB" % (r_s, r_curl, r_unzip, r_kib / 1024))
print("%-34s %11s %11s" % ("", "Hopwell", "reference"))
def row(label, ours, theirs, note):
    print("%-34s %9.3f s %9.3f s   ratio %.3f  %s" % (label, ours, theirs, ours / theirs, note))
row("open %d MiB (vs curl -o + unzip -j)" % round(mib), c_s, r_s, "target <= 0.3")
row("open %d MiB (vs curl -o alone)" % round(mib), c_s, r_curl, "target <= 1.15")
row("  its extraction (vs unzip -j -o)", e_s, r_unzip, "")
print("%-34s %9.1f MB   target < 32" % ("peak RSS of the open", c_kib / 1024))
PY
