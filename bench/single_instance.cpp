// Round trip of one relayed command: connect, send, the running instance reads and
// acknowledges. This is what a second launch spends before it can exit.
#include <atomic>
#include <thread>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include "shell/SingleInstance.h"

namespace {

namespace fs = boost::filesystem;

void BM_RelayRoundTrip(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / fs::unique_path("hopwell-bench-%%%%-%%%%");
  hopwell::SingleInstance first(folder);
  if (!first.Acquire()) {
    state.SkipWithError(first.LastError().c_str());
    return;
  }
  std::atomic<bool> stop{false};
  std::atomic<long> taken{0};
  std::thread reader([&] {
    while (!stop) {
      taken += static_cast<long>(first.TakeRelays().size());
      std::this_thread::yield();
    }
  });
  const std::string command =
      "kelv:test:" + std::string(static_cast<std::size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    if (hopwell::SingleInstance::Relay(folder, command) !=
        hopwell::SingleInstance::RelayResult::Delivered) {
      state.SkipWithError("relay not delivered");
      break;
    }
  }
  stop = true;
  reader.join();
  state.counters["taken"] = static_cast<double>(taken.load());
  boost::system::error_code ignored;
  fs::remove_all(folder, ignored);
}
BENCHMARK(BM_RelayRoundTrip)->Arg(10)->Arg(4185)->UseRealTime();

void BM_AcquireFreeToken(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / fs::unique_path("hopwell-bench-%%%%-%%%%");
  for (auto _ : state) {
    hopwell::SingleInstance instance(folder);
    benchmark::DoNotOptimize(instance.Acquire());
  }
  boost::system::error_code ignored;
  fs::remove_all(folder, ignored);
}
BENCHMARK(BM_AcquireFreeToken);

}  // namespace

BENCHMARK_MAIN();
