#pragma once

namespace hopwell {

// Test builds only (HOPWELL_TEST_HOOKS): with HOPWELL_TEST_FAULT set to "segv" or "abort",
// a command thread faults as it starts, so that crash handling can be checked end to end.
// Release packages are built without the hook, so nothing a user does can reach it.
void FaultIfAskedForTests();

}  // namespace hopwell
