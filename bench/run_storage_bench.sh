#!/usr/bin/env bash
# Storage benchmarks beside the Debian tools, on data generated in a temporary folder:
#   ZipFiles vs `zip -6 -q` and ZipExtractor vs `unzip -q -o` (a 256 MiB file of mixed
#   content, a folder of 2000 small files), FileCrc32 vs Python's zlib.crc32 in 1 MiB blocks
#   (1 GiB), KelvDB load/save at 100 000 and 200 000 rows of 16 columns.
# Each comparison alternates the two sides for HOPWELL_BENCH_RUNS rounds (default 5) and
# compares their medians. HOPWELL_BENCH_PARTS picks some of zip,unzip,crc,kelvdb (default all).
# Builds nothing: the bench_* programs must exist (Google Benchmark installed, target built).
# Usage: bench/run_storage_bench.sh [bench binary folder]   (default build/default/bench)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../build/default/bench}"
for program in bench_zip_archives bench_crc_file bench_kelvdb_table; do
  [ -x "$bin/$program" ] || { echo "missing $bin/$program (build it first)" >&2; exit 2; }
done

data="$(mktemp -d "${TMPDIR:-/tmp}/hopwell-storage-bench.XXXXXX")"
trap 'rm -rf "$data"' EXIT
export HOPWELL_BENCH_DATA="$data"

python3 - "$data" <<'PY'
import os, random, sys
data = sys.argv[1]
rng = random.Random(42)
words = [b"chapter", b"layout", b"frame", b"story", b"kelvory", b"<xml attr=\"1\"/>", b"\n"]
def mixed(size):
    # Thirds of random bytes, text-like words and runs of zeros, interleaved in 64 KiB blocks.
    out, kind = bytearray(), 0
    while len(out) < size:
        if kind == 0:
            out += os.urandom(65536)
        elif kind == 1:
            out += b" ".join(rng.choice(words) for _ in range(9000))[:65536]
        else:
            out += bytes(65536)
        kind = (kind + 1) % 3
    return bytes(out[:size])
with open(os.path.join(data, "big.bin"), "wb") as f:
    for _ in range(16):
        f.write(mixed(16 << 20))
os.mkdir(os.path.join(data, "small"))
for i in range(2000):
    with open(os.path.join(data, "small", "file%04d.txt" % i), "wb") as f:
        f.write(mixed(rng.randint(200, 12000)))
PY
cat "$data/big.bin" "$data/big.bin" "$data/big.bin" "$data/big.bin" > "$data/crc.bin"
sync  # no write-back of the generated data during the timed runs

python3 - "$data" "$bin" <<'PY'
import json, os, shutil, statistics, subprocess, sys, time, zlib
data, bin_dir = sys.argv[1], sys.argv[2]

def timed(run, repeat=3, before=None):
    times = []
    for _ in range(repeat):
        if before: before()
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return sum(times) / len(times)  # a mean, as the benchmarks report over their iterations

def sh(*args):
    subprocess.run(args, cwd=data, check=True)

def rm(*names):
    for name in names:
        path = os.path.join(data, name)
        if os.path.isdir(path): shutil.rmtree(path)
        elif os.path.exists(path): os.remove(path)
    os.sync()  # the removal's disk work must not land in the timed run

def bench(program, name, repetitions=1):
    report = os.path.join(data, program + ".json")
    subprocess.run([os.path.join(bin_dir, program), "--benchmark_out=" + report,
                    "--benchmark_out_format=json", "--benchmark_filter=^%s$" % name,
                    "--benchmark_repetitions=%d" % repetitions], check=True, capture_output=True)
    with open(report) as f:
        out = json.load(f)
    results = []
    for b in out["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        if b.get("error_occurred"):
            sys.exit("%s: %s" % (b["name"], b.get("error_message")))
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        results.append(b["real_time"] * scale)
    return results

parts = set(os.environ.get("HOPWELL_BENCH_PARTS", "zip,unzip,crc,kelvdb").split(","))
rounds = max(5, int(os.environ.get("HOPWELL_BENCH_RUNS", "5")))

# The file system's state (inodes freed by the previous run, pages in the cache) shifts
# the times of whichever runs later, so the two sides take turns, the first side changing
# every round; the medians are compared.
def paired(reference, program, name):
    theirs, ours = [], []
    for round_number in range(rounds):
        if round_number % 2 == 0:
            theirs.append(reference())
            ours.append(bench(program, name)[0])
        else:
            ours.append(bench(program, name)[0])
            theirs.append(reference())
    return statistics.median(ours), statistics.median(theirs)

def row(label, ours, theirs, note):
    print("%-34s %9.3f s %9.3f s   ratio %.3f  %s" % (label, ours, theirs, ours / theirs, note))

print("median of %d alternating rounds" % rounds)
print("%-34s %11s %11s" % ("", "Hopwell", "reference"))
# The Debian tools' archives are also what both extractors unpack.
sh("zip", "-6", "-q", "big.zip", "big.bin")
sh("zip", "-6", "-q", "-r", "small.zip", "small")
if "zip" in parts:
    row("zip 256 MiB (vs zip -6 -q)",
        *paired(lambda: timed(lambda: sh("zip", "-6", "-q", "big.zip", "big.bin"), 1,
                              before=lambda: rm("big.zip")),
                "bench_zip_archives", "BM_ZipFiles_BigFile/iterations:3/real_time"),
        "target <= 1.15")
    row("zip 2000 files (vs zip -6 -q)",
        *paired(lambda: timed(lambda: sh("zip", "-6", "-q", "-r", "small.zip", "small"), 5,
                              before=lambda: rm("small.zip")),
                "bench_zip_archives", "BM_ZipFiles_SmallFiles/iterations:5/real_time"),
        "target <= 1.15")
if "unzip" in parts:
    row("unzip 256 MiB (vs unzip -q -o)",
        *paired(lambda: timed(lambda: sh("unzip", "-q", "-o", "big.zip", "-d", "unpacked-unzip"),
                              1, before=lambda: rm("unpacked-unzip")),
                "bench_zip_archives", "BM_Extract_BigArchive/iterations:3/real_time"),
        "target <= 1.15")
    row("unzip 2000 files (vs unzip -q -o)",
        *paired(lambda: timed(lambda: sh("unzip", "-q", "-o", "small.zip", "-d",
                                         "unpacked-unzip"), 5,
                              before=lambda: rm("unpacked-unzip")),
                "bench_zip_archives", "BM_Extract_SmallFilesArchive/iterations:5/real_time"),
        "target <= 0.9")
    rm("unpacked-unzip")

def zlib_crc():
    crc = 0
    with open(os.path.join(data, "crc.bin"), "rb") as f:
        while block := f.read(1 << 20):
            crc = zlib.crc32(block, crc)
    return crc
if "crc" in parts:
    zlib_crc()  # warm the page cache as the benchmark's own first iteration does
    crc = paired(lambda: timed(zlib_crc, 5), "bench_crc_file",
                 "BM_FileCrc32/iterations:5/real_time")
    print("%-34s %9.3f s %9.3f s   speed %.3f of zlib  target >= 0.95" %
          ("crc32 1 GiB (vs zlib.crc32 1 MiB)", crc[0], crc[1], crc[1] / crc[0]))

def kelvdb(name):
    return {rows: min(bench("bench_kelvdb_table", "%s/%d/real_time" % (name, rows), 5))
            for rows in (100000, 200000)}

if "kelvdb" in parts:
    for name in ("BM_KelvDBLoad", "BM_KelvDBSave", "BM_KelvDBRowByRow"):
        times = kelvdb(name)
        small, large = times[100000], times[200000]
        print("%-34s %9.3f s %9.3f s   200k/100k %.3f  target <= 2.2" %
              (name[3:] + " 100k / 200k rows", small, large, large / small))
PY
