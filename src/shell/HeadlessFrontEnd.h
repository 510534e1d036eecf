#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "base/FrontEnd.h"

namespace hopwell {

// The terminal front end of `hopwell --headless`. Job changes are queued by the writer's
// thread and printed by the runner's thread; dialogs are printed and take their default
// answer.
class HeadlessFrontEnd final : public IFrontEnd {
 public:
  // `live`: rewrite one status line in place (a terminal) instead of a line per change.
  HeadlessFrontEnd(std::FILE* out, bool live);

  // True when `fd` is a terminal that can return to the start of a line (not TERM=dumb).
  static bool IsLiveTerminal(int fd);

  // Told of every job added or changed, on the writer's thread. Set before any job starts.
  void SetJobObserver(std::function<void(JobStatus&)> observer) { observer_ = std::move(observer); }

  void JobAdded(JobStatus& job) override;
  void JobChanged(JobStatus& job) override;
  void ShowMessageDialog(const std::string& title, const std::string& text) override;
  void ShowApplicationMissing(const std::string& text) override;
  void OpenUrl(const std::string& url) override;
  void ExploreFolder(const boost::filesystem::path& folder) override;
  bool ConfirmQuit() override;
  ProxyAnswer AskProxyCredentials(const std::string& url, ProxyCredentials& credentials) override;

  // Prints the queued changes, waiting up to `timeoutMilliseconds` for one to arrive.
  void PrintChanges(int timeoutMilliseconds);
  // Ends the live line and prints every job's description and, for a failed job, its
  // last message. True when every job succeeded.
  bool PrintSummary();

 private:
  void PrintJobLine(JobStatus& job);
  void PrintLine(const std::string& text);

  std::FILE* out_;
  const bool live_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<JobStatus*> pending_;
  std::vector<JobStatus*> jobs_;
  std::string lastLine_;
  std::size_t liveWidth_ = 0;
  const JobStatus* liveJob_ = nullptr;  // whose line the live line is
  std::function<void(JobStatus&)> observer_;
};

// What a caller adds to a headless run: an observer of every job change (writer's thread),
// work for the runner's thread between its waits, and work before the summary is printed.
struct HeadlessExtras {
  std::function<void(JobStatus&)> jobObserver;
  std::function<void()> idle;
  std::function<void()> finish;
};

// Runs `hopwell --headless COMMAND...`: 0 when every job succeeded, 1 otherwise.
int RunHeadless(const std::vector<std::string>& commands, const HeadlessExtras& extras = {});

}  // namespace hopwell
