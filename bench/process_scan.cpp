// FindRunningProcess over the real /proc. The script bench/run_process_bench.sh starts the
// processes to scan and names the application in HOPWELL_BENCH_TARGET and a running script
// ("#!/usr/bin/env -S sh -e") in HOPWELL_BENCH_SCRIPT, and a file no process runs in
// HOPWELL_BENCH_IDLE; without them the benchmarks look for paths that do not exist.
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "apps/ProcessTable.h"

namespace {

std::string Target(const char* variable, const char* fallback = "/nonexistent/InDesign.exe") {
  const char* target = std::getenv(variable);
  return target != nullptr ? target : fallback;
}

void BM_FindRunningProcess(benchmark::State& state) {
  const std::string target = Target("HOPWELL_BENCH_TARGET");
  int pid = 0;
  for (auto _ : state) {
    pid = hopwell::FindRunningProcess(target);
    benchmark::DoNotOptimize(pid);
  }
  state.counters["found"] = pid != 0 ? 1 : 0;
}
BENCHMARK(BM_FindRunningProcess)->Unit(benchmark::kMillisecond);

// A script: command lines are read as well.
void BM_FindRunningScript(benchmark::State& state) {
  const std::string target = Target("HOPWELL_BENCH_SCRIPT");
  int pid = 0;
  for (auto _ : state) {
    pid = hopwell::FindRunningProcess(target);
    benchmark::DoNotOptimize(pid);
  }
  state.counters["found"] = pid != 0 ? 1 : 0;
}
BENCHMARK(BM_FindRunningScript)->Unit(benchmark::kMillisecond);

// A file that exists but runs nowhere: a full scan. (A missing file is answered at once.)
void BM_FindAbsentProcess(benchmark::State& state) {
  const std::string target = Target("HOPWELL_BENCH_IDLE", "/nonexistent/x.exe");
  for (auto _ : state) benchmark::DoNotOptimize(hopwell::FindRunningProcess(target));
}
BENCHMARK(BM_FindAbsentProcess)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
