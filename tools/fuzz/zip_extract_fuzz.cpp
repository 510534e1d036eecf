// libFuzzer target: extraction of damaged archives. Each input is written as an archive
// into a private sandbox and extracted both ways; nothing may appear beside the
// destination folder, and nothing may crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <boost/filesystem/operations.hpp>

#include "storage/ZipExtractor.h"

namespace {

namespace fs = boost::filesystem;

fs::path& Sandbox() {
  static fs::path sandbox;
  return sandbox;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Sandbox() = fs::temp_directory_path() / ("hopwell-zip-fuzz-" + std::to_string(::getpid()));
  fs::create_directories(Sandbox());
  std::atexit([] {
    boost::system::error_code ignored;
    fs::remove_all(Sandbox(), ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path archive = Sandbox() / "input.zip";
  const fs::path destination = Sandbox() / "dest";
  if (std::FILE* file = std::fopen(archive.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  for (bool keepFolders : {true, false}) {
    fs::create_directories(destination);
    std::vector<fs::path> output;
    hopwell::ZipExtractor(archive).Extract(keepFolders, destination, &output);
    for (const auto& entry : fs::directory_iterator(Sandbox())) {
      if (entry.path() != archive && entry.path() != destination) std::abort();
    }
    for (const auto& path : output) {
      const fs::path relative = path.lexically_relative(destination);
      if (!path.empty() && (relative.empty() || *relative.begin() == "..")) std::abort();
    }
    fs::remove_all(destination);
  }
  return 0;
}
