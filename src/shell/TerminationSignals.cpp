#include "shell/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace hopwell {
namespace {

volatile std::sig_atomic_t pendingSignal = 0;
volatile std::sig_atomic_t signalCount = 0;
int wakeWrite = -1;
int wakeRead = -1;

void NoteTerminationSignal(int signal) {
  const int savedErrno = errno;
  if (pendingSignal == 0) pendingSignal = signal;
  if (signalCount < 2) signalCount = signalCount + 1;
  if (wakeWrite >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

int InstallTerminationSignals() {
  if (wakeRead < 0) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
      wakeRead = ends[0];
      wakeWrite = ends[1];
    }
  }
  struct sigaction action {};
  action.sa_handler = &NoteTerminationSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  return wakeRead;
}

int PendingTerminationSignal() {
  return pendingSignal;
}

int TerminationSignalCount() {
  return signalCount;
}

void EndByTerminationSignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
  ::raise(signal);
  // A signal the kernel will not deliver again this way (it was sent, not caused).
  std::_Exit(128 + signal);
}

}  // namespace hopwell
