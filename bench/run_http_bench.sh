#!/usr/bin/env bash
# Download and upload throughput of the client's HTTP helper against the curl tool.
#
# Starts Debian's nginx on 127.0.0.1:18080 (the local deployment's allow-listed HTTP port,
# so nothing else may be listening there) with its own configuration in a temporary
# folder, then in one run:
#   - GET of a 1 GiB static file into a file, by bench_http_transfer and by curl;
#   - POST of a 1 GiB file, by both. nginx answers the upload location with "return
#     200", which reads and discards the body (client_max_body_size 0: no size limit).
# Reports MiB/s, the ratio client/curl and the peak RSS of each (/usr/bin/time -v).
#
# Usage: bench/run_http_bench.sh [BUILD_DIR]   (default build/default; build
#        the bench_http_transfer target first)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
client="$build/bench/bench_http_transfer"
[ -x "$client" ] || { echo "missing $client: build the bench_http_transfer target" >&2; exit 1; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
need=()
command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || need+=(nginx-light)
[ -x /usr/bin/time ] || need+=(time)
command -v curl >/dev/null 2>&1 || need+=(curl)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"

port=18080
# The simulator's test fixtures use the same port; take turns with them.
exec 9>/tmp/hopwell-simulator-ports.lock
flock 9
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "127.0.0.1:$port is in use; stop what listens there first" >&2
  exit 1
fi
work="$(mktemp -d /tmp/hopwell-http-bench.XXXXXX)"
cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
  case "${out:-}" in /dev/shm/hopwell-http-bench.*) rm -rf "$out" ;; esac
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/logs" "$work/appdata" "$work/tmp"
head -c 1G /dev/zero > "$work/www/big.bin"
head -c 1G /dev/urandom > "$work/upload.bin"

# nginx's workers must read the served file and write their temporary folder.
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
chmod 755 "$work" "$work/www"
cat > "$work/nginx.conf" <<CONF
$user_line
daemon on;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    client_max_body_size 0;
    location /upload { return 200 "stored"; }
  }
}
CONF
"$nginx_bin" -c "$work/nginx.conf" -p "$work" 9>&-
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

# Runs a command under /usr/bin/time -v; prints "seconds peak_rss_kib cpu_seconds". The wall
# time is taken in nanoseconds: time's own is in steps of 10 ms, 3 % of a 0.3 s POST.
measure() {
  local report="$work/time.txt" start end
  start=$(date +%s%N)
  /usr/bin/time -v "$@" > "$work/out.txt" 2> "$report"
  end=$(date +%s%N)
  local wall rss cpu
  wall=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", (e - s) / 1e9 }')
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$report")
  cpu=$(awk -F': ' '/User time|System time/ {t += $2} END {print t}' "$report")
  echo "$wall $rss $cpu"
}

export APPDATA="$work/appdata"
# The client logs under $TMPDIR/Kelv/Hopwell.
mkdir -p "$work/clienttmp"
export TMPDIR="$work/clienttmp"
# Proxies must not get in the way of a loopback benchmark.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy

report() {  # name bytes client_result curl_result
  local name=$1 bytes=$2
  read -r cs crss ccpu <<<"$3"
  read -r us urss ucpu <<<"$4"
  awk -v n="$name" -v b="$bytes" -v cs="$cs" -v us="$us" -v cr="$crss" -v ur="$urss" \
      -v cc="$ccpu" -v uc="$ucpu" 'BEGIN {
    c = b / 1048576 / cs; u = b / 1048576 / us;
    printf "%-9s client %7.1f MiB/s (%.2f s, cpu %.2f s, peak RSS %5.1f MiB) | curl %7.1f MiB/s (%.2f s, cpu %.2f s, peak RSS %5.1f MiB) | ratio %.2f\n",
      n, c, cs, cc, cr / 1024, u, us, uc, ur / 1024, c / u }'
}

url="http://127.0.0.1:$port"
runs="${HOPWELL_BENCH_RUNS:-9}"

# The machine is shared: each side runs $runs times, alternating, and its median run
# counts (peak RSS is the largest seen).
best() {  # median "s rss cpu" of the arguments, by time
  printf '%s\n' "$@" | sort -n -k1,1 |
    awk '{ s[NR] = $1; c[NR] = $3; if ($2 > r) r = $2 }
         END { m = int((NR + 1) / 2); print s[m], r, c[m] }'
}

# Downloads land in $HOPWELL_BENCH_OUT: by default /dev/shm (tmpfs) when it can hold them,
# else the temporary folder on disk. On a virtual machine the disk's write cost swings by
# seconds per GiB from one run to the next (0.7 to 10 s for the same client, 0.9 to 3.6 s
# for curl, measured back to back), which drowns the transfer being compared.
default_out="$work"
if [ -d /dev/shm ] && [ -w /dev/shm ] &&
   [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -gt $((3 * 1024 * 1024)) ]; then
  default_out="$(mktemp -d /dev/shm/hopwell-http-bench.XXXXXX)"
fi
out="${HOPWELL_BENCH_OUT:-$default_out}"
echo "downloads go to $out"
# On a virtual machine, memory the guest freed goes back to the host after a while and costs
# a fault on the host when it is written again: whichever download writes first after the
# uploads paid for it (0.8 s or 2 s per GiB for the same client). Each timed download starts
# after a write of the same size into the same folder, so both sides find memory in the same
# state.
warm_output() {
  head -c 1G /dev/zero > "$out/warm.bin"
  rm -f "$out/warm.bin"
}
get_client_once() {
  sync
  warm_output
  gc+=("$(measure "$client" get "$url/big.bin" "$out/client.bin")")
  cat "$work/out.txt"
  cmp -s "$out/client.bin" "$work/www/big.bin" || { echo "client download differs" >&2; exit 1; }
  rm -f "$out/client.bin"
}
get_curl_once() {
  sync
  warm_output
  gu+=("$(measure curl -s -o "$out/curl.bin" "$url/big.bin")")
  rm -f "$out/curl.bin"
}
post_client_once() {
  pc+=("$(measure "$client" post "$url/upload" "$work/upload.bin")")
  cat "$work/out.txt"
}
post_curl_once() {
  pu+=("$(measure curl -s -o /dev/null -X POST -H "Expect:" \
          -H "Content-Type: application/octet-stream" -T "$work/upload.bin" "$url/upload")")
}

# Each round runs both sides back to back; who goes first alternates, so neither always
# pays for the other's write-back.
gc=(); gu=(); pc=(); pu=()
for round in $(seq "$runs"); do
  if [ $((round % 2)) -eq 1 ]; then
    get_client_once; get_curl_once; post_client_once; post_curl_once
  else
    get_curl_once; get_client_once; post_curl_once; post_client_once
  fi
done
get_client=$(best "${gc[@]}"); get_curl=$(best "${gu[@]}")
post_client=$(best "${pc[@]}"); post_curl=$(best "${pu[@]}")

log_lines=$(cat "$work"/clienttmp/Kelv/Hopwell/Hopwell_*.log 2>/dev/null | wc -l)
echo "client log lines kept (rotated files beyond 16 MiB are dropped): $log_lines"
report "GET 1G" $((1024 * 1024 * 1024)) "$get_client" "$get_curl"
report "POST 1G" $((1024 * 1024 * 1024)) "$post_client" "$post_curl"
# The same rows as the other benchmarks print: label, seconds of each side, speed ratio.
awk -v gc="$get_client" -v gu="$get_curl" -v pc="$post_client" -v pu="$post_curl" -v n="$runs" 'BEGIN {
  split(gc, a, " "); split(gu, b, " "); split(pc, c, " "); split(pu, d, " ");
  printf "median of %d alternating rounds\n", n
  printf "%-34s %11s %11s\n", "", "Hopwell", "reference"
  printf "%-34s %9.3f s %9.3f s   speed %.3f of curl  target >= 1.0\n", "GET 1 GiB (vs curl -o)", a[1], b[1], b[1] / a[1]
  printf "%-34s %9.3f s %9.3f s   speed %.3f of curl  target >= 1.0\n", "POST 1 GiB (vs curl -T)", c[1], d[1], d[1] / c[1]
  printf "%-34s %9.1f MB   target < 32\n", "peak RSS of GET / POST", (a[2] > c[2] ? a[2] : c[2]) / 1024
}'
