#pragma once

namespace hopwell {

// SIGTERM and SIGINT (logout, kill, Ctrl+C) end the client in an orderly way. The handler
// only notes the signal and writes a byte to a pipe; the front end's loop sees it, ends
// (log flushed, relay socket removed) and calls EndByTerminationSignal.

// Installs the handlers; returns the pipe's read end for an event loop to watch (-1 when no
// pipe could be made: PendingTerminationSignal still works).
int InstallTerminationSignals();

// The signal that asked the client to end, 0 while none did.
int PendingTerminationSignal();

// How many termination signals arrived so far (the headless front end cancels its jobs on
// the first and ends on the second).
int TerminationSignalCount();

// Ends the process by `signal` with its default action, so that the exit status tells it.
// Async-signal-safe: the fatal-signal handler ends the process through it too.
[[noreturn]] void EndByTerminationSignal(int signal);

}  // namespace hopwell
