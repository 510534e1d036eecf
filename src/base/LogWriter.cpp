#include "base/LogWriter.h"

#include <sched.h>
#include <time.h>

#include <chrono>

#include "base/CrashStack.h"
#include "base/LogFile.h"
#include "base/LogRing.h"

namespace hopwell {
namespace {

constexpr std::chrono::milliseconds kPeriod{500};
// How long a drain waits for a line that has its number but is not published yet (its
// thread is between the two steps), before it writes the lines after it.
constexpr long kGapWaitNanos = 1'000'000'000;
constexpr long kGapWaitAfterCrashNanos = 100'000'000;
// How long the crash path waits for a drain of another thread to end.
constexpr int kLockAttemptsAfterCrash = 2000;
constexpr timespec kLockAttemptPause{0, 1'000'000};

// Set while this thread drains: a fault inside the drain must not wait for itself.
thread_local bool drainingHere = false;

long long MonotonicNanos() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

LogWriter& LogWriter::Instance() {
  // Never destroyed: threads may log while the process runs its exit-time destructors.
  static LogWriter* const writer = new LogWriter;
  return *writer;
}

void LogWriter::Start(const boost::filesystem::path& folder) {
  auto file = std::make_unique<LogFile>(folder);
  StopThread();
  {
    std::lock_guard lock(drainLock_);
    drainingHere = true;
    if (file_) {
      DrainLocked(false);
      file_->Close();
    }
    file_ = std::move(file);
    drainingHere = false;
  }
  {
    std::lock_guard lock(wakeLock_);
    stop_ = false;
  }
  accepting_.store(true);
  threaded_.store(true);
  thread_ = std::thread([this] { Run(); });
}

void LogWriter::Stop() {
  StopThread();
  threaded_.store(false);
  std::lock_guard lock(drainLock_);
  drainingHere = true;
  DrainLocked(false);
  if (file_) file_->FinishRun();
  drainingHere = false;
}

void LogWriter::StopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(wakeLock_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LogWriter::Run() {
  EnsureCrashStackForThisThread();
  std::unique_lock lock(wakeLock_);
  while (!stop_) {
    wake_.wait_for(lock, kPeriod, [this] { return stop_ || wakeRequested_.load(); });
    wakeRequested_.store(false);
    lock.unlock();
    Drain();
    lock.lock();
  }
}

void LogWriter::Wake() noexcept {
  if (wakeRequested_.load(std::memory_order_relaxed) || wakeRequested_.exchange(true)) return;
  std::lock_guard lock(wakeLock_);
  wake_.notify_one();
}

void LogWriter::Drain() noexcept {
  // A failure handler that logs, called from inside a drain: its record waits in the ring.
  if (drainingHere) return;
  std::lock_guard lock(drainLock_);
  drainingHere = true;
  DrainLocked(false);
  drainingHere = false;
}

// Only what the fatal-signal handler may do: try_lock on a free mutex is one atomic
// exchange, the pauses are nanosleep, and the file takes its crash forms.
void LogWriter::DrainAfterCrash() noexcept {
  if (drainingHere) return;
  bool locked = false;
  for (int attempt = 0; attempt < kLockAttemptsAfterCrash && !locked; ++attempt) {
    locked = drainLock_.try_lock();
    if (!locked) ::nanosleep(&kLockAttemptPause, nullptr);
  }
  if (!locked) return;
  drainingHere = true;
  DrainLocked(true);
  drainingHere = false;
  drainLock_.unlock();
}

// Merges the rings by line number. A line numbered before the drain began but not published
// yet is waited for; lines published after the drain began are written when they follow on.
void LogWriter::DrainLocked(bool crashing) noexcept {
  if (!file_) return;
  if (!crashing) file_->BeginDrain();
  const std::uint64_t numbered = LogRing::Numbered();
  long long gapSince = 0;
  LogRing* last = nullptr;
  for (;;) {
    LogRing* oldest = nullptr;
    LogRing::Line line{};
    // A thread's lines mostly follow each other: its ring is asked first.
    if (last != nullptr && last->Front(line) && line.number == next_) {
      oldest = last;
    } else {
      for (LogRing* ring = LogRing::First(); ring != nullptr; ring = ring->Next()) {
        LogRing::Line front;
        if (ring->Front(front) && (oldest == nullptr || front.number < line.number)) {
          oldest = ring;
          line = front;
        }
      }
    }
    last = oldest;
    if (oldest != nullptr && line.number <= next_) {
      if (crashing) {
        file_->AddAfterCrash(line.bytes, line.size);
      } else {
        file_->Add(line.bytes, line.size, (line.flags & LogRing::kNewlineAdded) != 0);
      }
      oldest->Pop();
      if ((line.flags & LogRing::kOwnBlock) != 0 && !crashing) delete[] line.bytes;
      if (line.number == next_) ++next_;
      gapSince = 0;
      continue;
    }
    if (next_ >= numbered) break;
    // Line next_ has its number but is not published yet.
    const long long now = MonotonicNanos();
    if (gapSince == 0) gapSince = now;
    if (now - gapSince > (crashing ? kGapWaitAfterCrashNanos : kGapWaitNanos)) {
      // Its thread was stopped between the two steps: the lines after it go on.
      if (oldest == nullptr) break;
      next_ = line.number;
      continue;
    }
    ::sched_yield();
  }
  for (LogRing* ring = LogRing::First(); ring != nullptr; ring = ring->Next()) ring->Release();
  if (crashing) {
    file_->FlushAfterCrash();
  } else {
    file_->Flush();
  }
}

}  // namespace hopwell
