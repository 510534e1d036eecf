#!/usr/bin/env bash
# The save of a 256 MiB chapter in two archives, against the tools a script would use.
#
# In one run, against bench_upload_sink on 127.0.0.1:18080 (the local deployment's
# allow-listed port; it reads and drops chunk bodies and confirms check-ins):
#   - theirs: `zip -6` of the two archives one after the other, then curl posting the same
#     1 MiB chunks (split beforehand, not timed) over one connection;
#   - ours:   bench_save_chapter, the save command on the same files and request: two zip
#     threads, the chunked upload, the check-in (and the clean-up).
# The sink times the upload phase of each (first chunk in to last chunk answered), and a
# self-test first shows how much faster than both it can take chunks.
# Targets: our total at most 0.9 x theirs, our upload rate at least 0.95 x curl's, our peak
# RSS under 32 MB. ROUNDS (default and at least 5) rounds in which the two sides take turns
# at going first; the medians are compared.
#
# Usage: bench/run_save_bench.sh [BUILD_DIR]   (default build/default; build the
#        bench_save_chapter and bench_upload_sink targets first)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
client="$build/bench/bench_save_chapter"
sink="$build/bench/bench_upload_sink"
for program in "$client" "$sink"; do
  [ -x "$program" ] || { echo "missing $program: build the bench targets" >&2; exit 1; }
done
port=18080

# The simulator's test fixtures use the same port; take turns with them.
exec 9>/tmp/hopwell-simulator-ports.lock
flock 9
work="$(mktemp -d /tmp/hopwell-save-bench.XXXXXX)"
"$sink" "$port" 9>&- &
sink_pid=$!
trap 'kill $sink_pid 2>/dev/null || true; rm -rf "$work"' EXIT

# The chapter: per archive a text-like document and an incompressible picture, 64 MiB each.
export TMPDIR="$work/tmp" APPDATA="$work/appdata"
chapter="$TMPDIR/Kelv/space/12"
python3 - "$chapter" "$TMPDIR/Kelv/upload" <<'PY'
import os, random, sys
chapter, upload = sys.argv[1], sys.argv[2]
os.makedirs(os.path.join(chapter, "Links"), exist_ok=True)
os.makedirs(upload, exist_ok=True)
rng = random.Random(12)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(5000)]
text = " ".join(rng.choice(words) for _ in range(700000)).encode()[: 4 << 20]
size = 64 << 20
def write(name, block):
    with open(os.path.join(chapter, name), "wb") as out:
        for _ in range(size // len(block)):
            out.write(block)
write("doc.indd", text)
write("doc.pdf", text[::-1])
for name in ("Links/photo.jpg", "Links/scan.tif"):
    with open(os.path.join(chapter, name), "wb") as out:
        out.write(os.urandom(size))
archives = [["doc.indd", "Links/photo.jpg"], ["doc.pdf", "Links/scan.tif"]]
xml = ['<?xml version="1.0"?>\n<SaveRequest version="1"><IDS>space</IDS><TPVID>12</TPVID>'
       '<Token>bench</Token><URL>http://127.0.0.1:18080</URL><AppVersion>21.0</AppVersion>'
       '<WorkingFolderName>12</WorkingFolderName><UploadFilesList>']
for files in archives:
    xml.append("<Archive>")
    for name in files:
        xml.append('<File Type="%s" Name="%s" Path="%s" Size="%d"/>'
                   % ("INDD" if name.endswith("indd") else "LINK", name,
                      os.path.join(chapter, name), size))
    xml.append("</Archive>")
xml.append("</UploadFilesList></SaveRequest>\n")
with open(os.path.join(upload, "cgu_bench.xml"), "w") as out:
    out.write("".join(xml))
PY
# Each save removes the working files and the request: every round starts from this copy.
cp -a "$TMPDIR/Kelv" "$work/pristine"
sync
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/_stats" && break; sleep 0.1; done
stats() { curl -s "http://127.0.0.1:$port/_stats"; }
field() { python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$1" "$2"; }
now() { date +%s.%N; }

selftest_rate="$("$sink" 18097 --selftest 512)"

rounds="${ROUNDS:-5}"
[ "$rounds" -ge 5 ] || rounds=5
results="$work/results.txt"
: > "$results"
theirs_round() {  # sets zip_seconds curl_seconds curl_stats
  rm -rf "$work/theirs"
  mkdir -p "$work/theirs"
  start="$(now)"
  (cd "$chapter" && zip -6 -q "$work/theirs/a.zip" doc.indd Links/photo.jpg &&
    zip -6 -q "$work/theirs/b.zip" doc.pdf Links/scan.tif)
  zip_seconds="$(python3 -c "print($(now) - $start)")"
  config="$work/theirs/curl.conf"
  : > "$config"
  for archive in a b; do
    split -b 1048576 -d -a 4 "$work/theirs/$archive.zip" "$work/theirs/${archive}_"
    n=0
    for chunk in "$work/theirs/${archive}"_[0-9]*; do
      n=$((n + 1))
      [ -s "$config" ] && echo next >> "$config"
      printf 'url = "http://127.0.0.1:%s/api/v2/ext/upload?n=%s_%d.zip"\ndata-binary = "@%s"\nheader = "Content-Type: application/octet-stream"\nheader = "X-API-Token: bench"\noutput = "/dev/null"\n' \
        "$port" "$archive" "$n" "$chunk" >> "$config"
    done
  done
  sync
  stats > /dev/null
  start="$(now)"
  curl -s -K "$config"
  curl_seconds="$(python3 -c "print($(now) - $start)")"
  curl_stats="$(stats)"
}
ours_round() {  # sets ours_seconds ours_stats rss_kib; the save removes its files
  rm -rf "$TMPDIR/Kelv"
  cp -a "$work/pristine" "$TMPDIR/Kelv"
  sync
  stats > /dev/null
  /usr/bin/time -v -o "$work/time.txt" "$client" > "$work/ours.txt"
  ours_stats="$(stats)"
  read -r ours_seconds ours_state _ < "$work/ours.txt"
  [ "$ours_state" = Succeeded ] || { cat "$work/ours.txt"; exit 1; }
  rss_kib="$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time.txt")"
}
# Theirs zip the pristine chapter: ours removes its own copy's files.
chapter="$work/pristine/space/12"
for round in $(seq "$rounds"); do
  # The two sides take turns at going first.
  if [ $((round % 2)) -eq 1 ]; then
    theirs_round
    ours_round
  else
    ours_round
    theirs_round
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$zip_seconds" "$curl_seconds" "$curl_stats" \
    "$ours_seconds" "$ours_stats" "$rss_kib" >> "$results"
done

python3 - "$results" "$selftest_rate" <<'PY'
import json, statistics, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
sink_rate = float(sys.argv[2])
rate = lambda s: s["bytes"] / (1 << 20) / s["seconds"] if s["seconds"] else 0.0
median = statistics.median
zip_s = median(float(r[0]) for r in rows)
curl_s = median(float(r[1]) for r in rows)
theirs = median(float(r[0]) + float(r[1]) for r in rows)
c = [json.loads(r[2]) for r in rows]
ours_s = median(float(r[3]) for r in rows)
o = [json.loads(r[4]) for r in rows]
rss_mb = max(int(r[5]) for r in rows) / 1024
curl_rate, ours_rate = median(map(rate, c)), median(map(rate, o))
print("median of %d alternating rounds" % len(rows))
print("theirs: zip -6 %.2f s + curl %.2f s; upload %.0f MiB/s (%d chunks, %d connection(s))"
      % (zip_s, curl_s, curl_rate, c[0]["requests"], c[0]["connections"]))
print("ours:   save %.2f s; upload %.0f MiB/s (%d chunks, %d connection(s)); peak RSS %.1f MB"
      % (ours_s, ours_rate, o[0]["requests"], o[0]["connections"], rss_mb))
print("sink:   %.0f MiB/s from memory over one connection (%.1f x the faster client)"
      % (sink_rate, sink_rate / max(curl_rate, ours_rate)))
print("%-34s %11s %11s" % ("", "Hopwell", "reference"))
print("%-34s %9.3f s %9.3f s   ratio %.3f  target <= 0.9" %
      ("save 256 MiB (vs zip -6 + curl)", ours_s, theirs, ours_s / theirs))
print("%-34s %7.0f MiB/s %5.0f MiB/s   speed %.3f of curl  target >= 0.95" %
      ("upload (vs curl, 1 MiB chunks)", ours_rate, curl_rate, ours_rate / curl_rate))
print("%-34s %9.1f MB   target < 32" % ("peak RSS of the save", rss_mb))
PY
