// Cost of laying out one job-list row from a live job record (every field read through
// its lock), which the delegate pays for each visible row on every redraw.
#include <benchmark/benchmark.h>

#include "intake/JobStatus.h"
#include "shell/JobRowLayout.h"

namespace {

void BM_LayoutRunningRow(benchmark::State& state) {
  hopwell::JobStatus job(hopwell::ActionKind::Download, "", "kelv:open:x");
  job.SetDocumentName("Chapter 6 - Outlook");
  job.SetState(hopwell::JobState::Running);
  job.SetProgress(37.9);
  job.AddMessage("Downloading 3.2 MB of 8.4 MB, 6 s remaining");
  const hopwell::RowRect rect{0, 0, 485, hopwell::kRowHeight};
  for (auto _ : state) {
    auto layout = hopwell::LayoutJobRow(hopwell::ReadRowContent(job), rect, true, true);
    benchmark::DoNotOptimize(layout);
  }
}
BENCHMARK(BM_LayoutRunningRow);

void BM_LayoutFailedRow(benchmark::State& state) {
  hopwell::JobStatus job(hopwell::ActionKind::Unknown, "", "kelv:bogus");
  job.JobFailed("Unknown command: bogus");
  const hopwell::RowRect rect{0, 0, 485, hopwell::kRowHeight};
  for (auto _ : state) {
    auto layout = hopwell::LayoutJobRow(hopwell::ReadRowContent(job), rect, false, false);
    benchmark::DoNotOptimize(layout);
  }
}
BENCHMARK(BM_LayoutFailedRow);

}  // namespace

BENCHMARK_MAIN();
