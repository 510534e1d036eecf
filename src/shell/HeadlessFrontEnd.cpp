#include "shell/HeadlessFrontEnd.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include <fmt/format.h>

#include "intake/CommandIntake.h"
#include "intake/JobStatus.h"

namespace hopwell {

HeadlessFrontEnd::HeadlessFrontEnd(std::FILE* out, bool live) : out_(out), live_(live) {}

bool HeadlessFrontEnd::IsLiveTerminal(int fd) {
  if (::isatty(fd) != 1) return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

void HeadlessFrontEnd::JobAdded(JobStatus& job) {
  {
    std::lock_guard lock(lock_);
    jobs_.push_back(&job);
    pending_.push_back(&job);
  }
  changed_.notify_all();
  if (observer_) observer_(job);
}

void HeadlessFrontEnd::JobChanged(JobStatus& job) {
  {
    std::lock_guard lock(lock_);
    pending_.push_back(&job);
  }
  changed_.notify_all();
  if (observer_) observer_(job);
}

void HeadlessFrontEnd::PrintLine(const std::string& text) {
  std::lock_guard lock(lock_);
  if (live_ && liveWidth_ > 0) {
    std::fprintf(out_, "\r%*s\r", static_cast<int>(liveWidth_), "");
    liveWidth_ = 0;
  }
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void HeadlessFrontEnd::ShowMessageDialog(const std::string& title, const std::string& text) {
  PrintLine("[" + (title.empty() ? std::string("Kelvory") : title) + "] " + text);
}

void HeadlessFrontEnd::ShowApplicationMissing(const std::string& text) {
  PrintLine("[The Application is Missing] " + text);
}

void HeadlessFrontEnd::OpenUrl(const std::string& url) {
  PrintLine("Open " + url);
}

void HeadlessFrontEnd::ExploreFolder(const boost::filesystem::path& folder) {
  PrintLine("Explore " + folder.string());
}

bool HeadlessFrontEnd::ConfirmQuit() {
  return true;
}

ProxyAnswer HeadlessFrontEnd::AskProxyCredentials(const std::string& url, ProxyCredentials&) {
  PrintLine("Proxy authentication required for " + url + " (no prompt in headless mode)");
  return ProxyAnswer::Cancelled;
}

void HeadlessFrontEnd::PrintJobLine(JobStatus& job) {
  const double progress = std::clamp(job.GetProgress(), 0.0, 100.0);
  std::string line = fmt::format("{} [{:3.0f}%]", job.Description(), std::floor(progress));
  const std::string message = job.LastMessage();
  if (!message.empty()) line += " " + message;
  std::replace(line.begin(), line.end(), '\n', ' ');

  std::lock_guard lock(lock_);
  if (line == lastLine_) return;
  lastLine_ = line;
  if (live_) {
    // The live line is rewritten only by its own job; another job's line starts below it.
    if (liveWidth_ > 0 && liveJob_ != &job) {
      std::fputc('\n', out_);
      liveWidth_ = 0;
    }
    liveJob_ = &job;
    const std::size_t width = line.size();
    std::fprintf(out_, "\r%s", line.c_str());
    if (liveWidth_ > width) {
      std::fprintf(out_, "%*s", static_cast<int>(liveWidth_ - width), "");
    }
    liveWidth_ = width;
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

void HeadlessFrontEnd::PrintChanges(int timeoutMilliseconds) {
  std::deque<JobStatus*> batch;
  {
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                      [this] { return !pending_.empty(); });
    batch.swap(pending_);
  }
  // Only the newest state of each job matters; a burst prints once per job.
  std::vector<JobStatus*> seen;
  for (auto it = batch.rbegin(); it != batch.rend(); ++it) {
    if (std::find(seen.begin(), seen.end(), *it) != seen.end()) continue;
    seen.push_back(*it);
  }
  for (auto it = seen.rbegin(); it != seen.rend(); ++it) PrintJobLine(**it);
}

bool HeadlessFrontEnd::PrintSummary() {
  std::vector<JobStatus*> jobs;
  {
    std::lock_guard lock(lock_);
    if (live_ && liveWidth_ > 0) std::fprintf(out_, "\n");
    liveWidth_ = 0;
    jobs = jobs_;
  }
  bool allSucceeded = !jobs.empty();
  for (JobStatus* job : jobs) {
    const JobState state = job->GetState();
    std::fprintf(out_, "%s\n", job->Description().c_str());
    if (state == JobState::Failed) std::fprintf(out_, "Error: %s\n", job->LastMessage().c_str());
    if (state != JobState::Succeeded) allSucceeded = false;
  }
  std::fflush(out_);
  return allSucceeded;
}

}  // namespace hopwell
