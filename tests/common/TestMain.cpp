#include <cstdlib>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/SimulatorProcess.h"

namespace hopwell::testing {
void InstallCaptureSink();
}

// Every test program runs with its own temporary, application-data and XDG data folders, so
// no test touches the user's files, with a log sink that keeps records off the console, and
// trusting (besides the system's store) the test CA of the fixtures' simulators.
int main(int argc, char** argv) {
  namespace fs = boost::filesystem;
  const fs::path root = fs::temp_directory_path() / fs::unique_path("hopwell-tests-%%%%-%%%%-%%%%");
  fs::create_directories(root / "tmp");
  fs::create_directories(root / "appdata");
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
  ::setenv("APPDATA", (root / "appdata").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  const fs::path caFile =
      hopwell::testing::SimulatorProcess::BinaryDir() / "simulator-ca" / "ca.pem";
  ::setenv("HOPWELL_CA_FILE", caFile.c_str(), 0);
  hopwell::testing::InstallCaptureSink();

  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  boost::system::error_code ignored;
  fs::remove_all(root, ignored);
  return result;
}
