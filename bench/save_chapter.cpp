// One save of the chapter that bench/run_save_bench.sh prepared: reads TempRoot/upload/
// cgu_bench.xml, zips, uploads to the sink and checks in, as "kelv:save:bench" would.
// Prints the wall time in seconds and the job's end state.
#include <chrono>
#include <cstdio>

#include "commands/save/SaveCmd.h"

int main() {
  using namespace hopwell;
  auto job = std::make_shared<JobStatus>(ActionKind::Upload, "Saving...", "kelv:save:bench");
  const auto start = std::chrono::steady_clock::now();
  SaveCmd("bench", job).DoExecute();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool ok = job->GetState() == JobState::Succeeded;
  std::printf("%.3f %s %s\n", seconds, ok ? "Succeeded" : "Failed", job->LastMessage().c_str());
  return ok ? 0 : 1;
}
