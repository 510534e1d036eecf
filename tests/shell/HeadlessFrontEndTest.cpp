#include "shell/HeadlessFrontEnd.h"

#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

// Two jobs, as `hopwell --headless kelv:x kelv:test` reports them: an intake failure, then a
// test job that fails after its first line was printed. On a terminal each job's line is
// rewritten in place, and ended before the next job's line; otherwise a line per change.
TEST(HeadlessFrontEndTest, EveryJobLineEndsBeforeTheNextJobsLine) {
  const std::string intake = "Invalid action kind [  0%] Can't handle kelv:x.";
  const std::string started = "Verifying installation [  0%] Initializing job";
  const std::string failed =
      "Verifying installation FAILED [  0%] Could not establish internet connection";
  const std::string summary =
      "Invalid action kind\nError: Can't handle kelv:x.\nVerifying installation FAILED\n"
      "Error: Could not establish internet connection\n";
  const struct {
    bool live;
    std::string output;
  } cases[] = {
      {true, "\r" + intake + "\n\r" + started + "\r" + failed + "\n" + summary},
      {false, intake + "\n" + started + "\n" + failed + "\n" + summary},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.live);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(out);
    HeadlessFrontEnd frontEnd(out.get(), c.live);
    JobStatus unknown(ActionKind::Unknown, "Unknown", "kelv:x");
    unknown.JobFailed("Can't handle kelv:x.");
    frontEnd.JobAdded(unknown);
    frontEnd.PrintChanges(0);
    JobStatus test(ActionKind::Verify, "Verifying...", "kelv:test");
    test.AddMessage("Initializing job");
    frontEnd.JobAdded(test);
    frontEnd.PrintChanges(0);
    test.JobFailed("Could not establish internet connection");
    frontEnd.JobChanged(test);
    frontEnd.PrintChanges(0);
    EXPECT_FALSE(frontEnd.PrintSummary());
    EXPECT_EQ(Contents(out.get()), c.output);
  }
}

}  // namespace
}  // namespace hopwell
