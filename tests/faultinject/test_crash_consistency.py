"""The CI sample of the crash-consistency matrix (scripts/crash-consistency runs all of it):
save, open and install of `hopwell --headless` against the simulator, killed at one
file-system call of a clean run, then run again without a fault. Nothing the user made is
lost, the recorded plug-ins are whole, nothing half-done counts as done, nothing is left
behind, and every kept file the clean runs replaced was synced before and after its rename."""
import os
import platform
import sys
import unittest

SOURCE_DIR = os.environ.get("HOPWELL_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BINARY_DIR = os.environ.get("HOPWELL_BINARY_DIR", os.path.join(SOURCE_DIR, "build", "default"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "faultinject"))

import fault_matrix  # noqa: E402

# At most two minutes with the clean runs; kill points left when it is spent are not started.
BUDGET_SECONDS = 100


@unittest.skipUnless(platform.machine() == "x86_64", "the injector reads x86-64 registers")
class CrashConsistencySampleTest(unittest.TestCase):
    def test_a_kill_anywhere_is_repaired_by_the_next_run(self):
        harness = fault_matrix.run_crash_matrix(BINARY_DIR, ["save", "open", "install"],
                                                spread_most=4, budget=BUDGET_SECONDS,
                                                shuffle_seed=26)
        print("\n" + harness.crash_table(), file=sys.stderr)
        print("%d kill points of %d planned in %.0f s" % (
            harness.runs, harness.planned, harness.elapsed), file=sys.stderr)
        self.assertGreater(sum(r["hit"] for r in harness.results.values()), 30)
        self.assertEqual(harness.bad, [])
        replaced = [(mode, row) for mode, rows in harness.renames.items() for row in rows]
        self.assertTrue(replaced)  # the open's table, the PluginConfig files
        for mode, (source, target, data, folder) in replaced:
            self.assertTrue(data and folder, "%s: %s -> %s" % (mode, source, target))


if __name__ == "__main__":
    unittest.main()
