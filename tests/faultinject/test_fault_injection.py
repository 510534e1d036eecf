"""The CI sample of the single-fault matrix (scripts/fault-injection runs all of it): save,
open and install of `hopwell --headless` against the simulator, one failing system call per
run, and after each run nothing the user made is lost, nothing crashed or hung, and no
failure was reported as a success."""
import os
import platform
import sys
import unittest

SOURCE_DIR = os.environ.get("HOPWELL_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BINARY_DIR = os.environ.get("HOPWELL_BINARY_DIR", os.path.join(SOURCE_DIR, "build", "default"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "faultinject"))

import fault_matrix  # noqa: E402

# Well inside the test's time-out; runs left over when it is spent are not started.
BUDGET_SECONDS = 150


@unittest.skipUnless(platform.machine() == "x86_64", "the injector reads x86-64 registers")
class FaultInjectionSampleTest(unittest.TestCase):
    def test_one_failing_call_loses_nothing(self):
        harness = fault_matrix.run_matrix(BINARY_DIR, ["save", "open", "install"], per_combo=2,
                                          budget=BUDGET_SECONDS, shuffle_seed=17)
        print("\n" + harness.table(), file=sys.stderr)
        print("%d runs of %d planned in %.0f s" % (harness.runs, harness.planned, harness.elapsed),
              file=sys.stderr)
        self.assertGreater(sum(r["hit"] for r in harness.results.values()), 20)
        self.assertEqual(harness.bad, [])


if __name__ == "__main__":
    unittest.main()
