#pragma once

namespace hopwell {

// From now on EnsureCrashStackForThisThread gives threads a stack; the crash handler calls it
// when it installs itself. Without a handler the stacks would only cost memory.
void EnableCrashStacks();

// Gives the calling thread an alternate signal stack of its own, so that a stack overflow on
// it still reaches the crash handler. The stack lives as long as the thread.
void EnsureCrashStackForThisThread();

}  // namespace hopwell
