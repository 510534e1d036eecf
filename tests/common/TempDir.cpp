#include "common/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <boost/filesystem/operations.hpp>

namespace hopwell::testing {

namespace fs = boost::filesystem;

TempDir::TempDir() {
  path_ = fs::temp_directory_path() / fs::unique_path("hopwell-test-%%%%-%%%%-%%%%");
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  boost::system::error_code ignored;
  fs::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    had_ = true;
    old_ = old;
  }
  ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    ::setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

void WriteFile(const fs::path& path, const std::string& contents) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path.string(), std::ios::binary);
  out << contents;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path.string(), std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

}  // namespace hopwell::testing
