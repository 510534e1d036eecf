#include <cstdlib>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

namespace hopwell::testing {
void InstallCaptureSink();
}

// Every test program runs with its own temporary and application-data folders, so no test
// touches the user's files, and with a log sink that keeps records off the console.
int main(int argc, char** argv) {
  namespace fs = boost::filesystem;
  const fs::path root =
      fs::temp_directory_path() / fs::unique_path("hopwell-tests-%%%%-%%%%-%%%%");
  fs::create_directories(root / "tmp");
  fs::create_directories(root / "appdata");
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
  ::setenv("APPDATA", (root / "appdata").c_str(), 1);
  hopwell::testing::InstallCaptureSink();

  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  boost::system::error_code ignored;
  fs::remove_all(root, ignored);
  return result;
}
