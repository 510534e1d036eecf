// FindRunningProcess over the real /proc. The script bench/run_process_bench.sh starts the
// processes to scan and names the application in HOPWELL_BENCH_TARGET; without it the
// benchmark looks for a path no process has (a full scan).
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "apps/ProcessTable.h"

namespace {

std::string Target() {
  const char* target = std::getenv("HOPWELL_BENCH_TARGET");
  return target != nullptr ? target : "/nonexistent/InDesign.exe";
}

void BM_FindRunningProcess(benchmark::State& state) {
  const std::string target = Target();
  int pid = 0;
  for (auto _ : state) {
    pid = hopwell::FindRunningProcess(target);
    benchmark::DoNotOptimize(pid);
  }
  state.counters["found"] = pid != 0 ? 1 : 0;
}
BENCHMARK(BM_FindRunningProcess)->Unit(benchmark::kMillisecond);

void BM_FindAbsentProcess(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(hopwell::FindRunningProcess("/nonexistent/x.exe"));
}
BENCHMARK(BM_FindAbsentProcess)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
