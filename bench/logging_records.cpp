// Records per second through the client's logging path: info records into the rotating
// log files (the download's "Received 8192 bytes" line), from one thread and from two at
// once, and debug records that the threshold drops.
#include <cstdlib>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "storage/LocalFolders.h"

namespace {

void InitOnce() {
  static const bool done = [] {
    namespace fs = boost::filesystem;
    const fs::path folder = fs::temp_directory_path() / fs::unique_path("hopwell-logbench-%%%%");
    fs::create_directories(folder);
    ::setenv("TMPDIR", folder.c_str(), 1);
    hopwell::InitLogging(hopwell::LogFolder());
    return true;
  }();
  (void)done;
}

void InfoRecord(benchmark::State& state) {
  InitOnce();
  hopwell::LogSource log;
  const std::size_t count = 8192;
  for (auto _ : state) HW_LOG(log, info) << "Received " << count << " bytes";
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) hopwell::FlushLog();
}
BENCHMARK(InfoRecord)->Threads(1)->Threads(2)->UseRealTime();

void FilteredDebugRecord(benchmark::State& state) {
  InitOnce();
  hopwell::LogSource log;
  for (auto _ : state) HW_LOG(log, debug) << "HttpOpenRequestWrapper::Write: (" << 65536 << ")";
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FilteredDebugRecord);

}  // namespace

BENCHMARK_MAIN();
