#include "ArchiveTools.h"

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"

namespace hopwell::testing {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

int RunCommand(const std::string& commandLine, std::string* output) {
  std::FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char block[4096];
  std::size_t count = 0;
  while ((count = std::fread(block, 1, sizeof block, pipe)) > 0) {
    if (output != nullptr) output->append(block, count);
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunPython(const std::string& program, const std::vector<std::string>& arguments,
              std::string* output) {
  namespace fs = boost::filesystem;
  const fs::path script = fs::temp_directory_path() / fs::unique_path("hopwell-%%%%%%%%.py");
  WriteFile(script, program);
  std::string commandLine = "python3 " + ShellQuote(script.string());
  for (const auto& argument : arguments) commandLine += " " + ShellQuote(argument);
  const int status = RunCommand(commandLine, output);
  boost::system::error_code ignored;
  fs::remove(script, ignored);
  return status;
}

void KeepFuzzSeed(const std::string& corpus, const std::string& bytes) {
  const char* seeds = std::getenv("HOPWELL_FUZZ_SEEDS");
  if (seeds == nullptr || *seeds == '\0' || bytes.size() > (64u << 10)) return;
  char name[32];
  std::snprintf(name, sizeof name, "%016zx", std::hash<std::string>()(bytes));
  WriteFile(boost::filesystem::path(seeds) / corpus / name, bytes);
}

}  // namespace hopwell::testing
