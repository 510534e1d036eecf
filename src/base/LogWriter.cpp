#include "base/LogWriter.h"

#include <time.h>

#include <chrono>

#include "base/CrashStack.h"
#include "base/LogFile.h"
#include "base/LogRing.h"

namespace hopwell {
namespace {

constexpr std::chrono::milliseconds kPeriod{500};
// How long the crash path waits for a drain of another thread to end.
constexpr int kLockAttemptsAfterCrash = 2000;
constexpr timespec kLockAttemptPause{0, 1'000'000};

// Set while this thread drains: a fault inside the drain must not wait for itself.
thread_local bool drainingHere = false;

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

// Merges the rings by time stamp, each ring's lines in their order. A drain takes the lines
// published when it began, so that it ends while other threads go on logging.
void LogWriter::DrainLocked(bool crashing) noexcept {
  if (!file_) return;
  if (!crashing) file_->BeginDrain();
  for (LogRing* ring = LogRing::First(); ring != nullptr; ring = ring->Next()) ring->Bound();
  for (;;) {
    LogRing* oldest = nullptr;
    LogRing::Line line{};
    for (LogRing* ring = LogRing::First(); ring != nullptr; ring = ring->Next()) {
      LogRing::Line front;
      if (ring->Front(front) && (oldest == nullptr || front.stamp < line.stamp)) {
        oldest = ring;
        line = front;
      }
    }
    if (oldest == nullptr) break;
    if (crashing) {
      file_->AddAfterCrash(line.bytes, line.size);
    } else {
      file_->Add(line.bytes, line.size, (line.flags & LogRing::kNewlineAdded) != 0);
    }
    oldest->Pop();
    if ((line.flags & LogRing::kOwnBlock) != 0 && !crashing) delete[] line.bytes;
  }
  for (LogRing* ring = LogRing::First(); ring != nullptr; ring = ring->Next()) ring->Release();
  if (crashing) {
    file_->FlushAfterCrash();
  } else {
    file_->Flush();
  }
}

}  // namespace hopwell
