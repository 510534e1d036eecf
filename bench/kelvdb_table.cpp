// KelvDB load and save of a 16-column table, and the row-by-row operations, at two sizes
// each so that the ratio of their times shows how they grow.
//
// glibc gives freed memory back to the kernel above thresholds that follow the largest block
// freed so far (at most 32 MiB for mmap, 64 MiB for trimming). A 100k-row table kept much of
// its memory mapped from one iteration to the next, a 200k-row one faulted nearly all of its
// ~180 MB in again every time (46 000 page faults against 13 000-20 000, a third of its
// time): that, not the table, made 200k cost more than twice 100k. Here every block comes
// from the heap and the heap is not trimmed, so that both sizes measure the table's own work.
#include <malloc.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include "storage/KelvDB.h"

namespace {

namespace fs = boost::filesystem;
using hopwell::KelvDB;

constexpr std::uint32_t kColumns = 16;

KelvDB MakeTable(std::uint32_t rows) {
  KelvDB table;
  table.create(kColumns, 0);
  for (std::uint32_t c = 0; c < kColumns; ++c) table.setColumnName(c, "column" + std::to_string(c));
  std::vector<std::string> values(kColumns);
  for (std::uint32_t r = 0; r < rows; ++r) {
    for (std::uint32_t c = 0; c < kColumns; ++c) {
      values[c] = "cell " + std::to_string(r) + "/" + std::to_string(c);
      if ((r + c) % 7 == 0) values[c] += "\nwith a second line";
    }
    table.addRow(values);
  }
  return table;
}

fs::path TablePath() {
  return fs::temp_directory_path() / ("hopwell-bench-" + std::to_string(::getpid()) + ".cdb");
}

void BM_KelvDBSave(benchmark::State& state) {
  KelvDB table = MakeTable(static_cast<std::uint32_t>(state.range(0)));
  const fs::path path = TablePath();
  for (auto _ : state) {
    if (!table.save(path)) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
  fs::remove(path);
}

void BM_KelvDBLoad(benchmark::State& state) {
  KelvDB table = MakeTable(static_cast<std::uint32_t>(state.range(0)));
  const fs::path path = TablePath();
  table.save(path);
  for (auto _ : state) {
    KelvDB loaded;
    if (!loaded.load(path)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(loaded.getRowCount());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
  fs::remove(path);
}

// addRow, row-by-row reading through the cursor, and toString over every row.
void BM_KelvDBRowByRow(benchmark::State& state) {
  const auto rows = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) {
    KelvDB table = MakeTable(rows);
    std::vector<std::string> values;
    table.first();
    do {
      table.getCurrentRow(values);
    } while (table.next());
    benchmark::DoNotOptimize(table.toString().size());
  }
}

BENCHMARK(BM_KelvDBSave)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KelvDBLoad)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KelvDBRowByRow)
    ->Arg(100000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
