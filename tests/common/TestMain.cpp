#include <cstdlib>
#include <utility>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

namespace hopwell::testing {
void InstallCaptureSink();
}

// Every test program runs with folders of its own for everything the client keeps per user
// (temporary files, application data, the registry file, the single-instance socket), so no
// test touches the user's files or meets another test running beside it, and with a log sink
// that keeps records off the console.
int main(int argc, char** argv) {
  namespace fs = boost::filesystem;
  const fs::path root = fs::temp_directory_path() / fs::unique_path("hopwell-tests-%%%%-%%%%-%%%%");
  const std::pair<const char*, const char*> folders[] = {{"TMPDIR", "tmp"},
                                                         {"APPDATA", "appdata"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_RUNTIME_DIR", "runtime"}};
  for (const auto& [variable, name] : folders) {
    fs::create_directories(root / name);
    ::setenv(variable, (root / name).c_str(), 1);
  }
  fs::permissions(root / "runtime", fs::owner_all);
  hopwell::testing::InstallCaptureSink();

  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  boost::system::error_code ignored;
  fs::remove_all(root, ignored);
  return result;
}
