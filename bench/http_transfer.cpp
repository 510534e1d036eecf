// One transfer through the client's HTTP helper, timed, with the client's own logging on
// (info level, rotating files under LogFolder()). Driven by run_http_bench.sh, which runs
// the curl tool on the same URLs for comparison.
//
//   bench_http_transfer get  URL OUTPUT_FILE
//   bench_http_transfer post URL INPUT_FILE
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "net/IHttpHelper.h"
#include "storage/LocalFolders.h"

namespace {

struct Outcome {
  hopwell::HttpResult result;
  long status;
  std::uint64_t bytes;
};

Outcome RunGet(hopwell::IHttpHelper& helper, const std::string& url, const std::string& output) {
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  long status = 0;
  const hopwell::HttpResult result = helper.Get(url, &out, nullptr, nullptr, {}, {}, &status);
  out.close();
  return {result, status, boost::filesystem::file_size(output)};
}

Outcome RunPost(hopwell::IHttpHelper& helper, const std::string& url, const std::string& input) {
  std::ostringstream answer;
  long status = 0;
  const hopwell::HttpResult result =
      helper.PostFile(url, "application/octet-stream", &answer, input, {}, &status);
  return {result, status, boost::filesystem::file_size(input)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " get|post URL FILE\n";
    return 2;
  }
  const std::string mode = argv[1];
  hopwell::InitLogging(hopwell::LogFolder());
  const hopwell::HttpHelperPtr helper = hopwell::CreateHttpHelper();

  const auto start = std::chrono::steady_clock::now();
  Outcome outcome{};
  try {
    outcome =
        mode == "get" ? RunGet(*helper, argv[2], argv[3]) : RunPost(*helper, argv[2], argv[3]);
  } catch (const std::exception& error) {
    std::cerr << "transfer threw: " << error.what() << "\n";
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  hopwell::FlushLog();

  std::printf("result=%d status=%ld bytes=%llu seconds=%.3f MiB/s=%.1f\n",
              static_cast<int>(outcome.result), outcome.status,
              static_cast<unsigned long long>(outcome.bytes), seconds,
              static_cast<double>(outcome.bytes) / (1024.0 * 1024.0) / seconds);
  return outcome.result == hopwell::HttpResult::Ok && outcome.status == 200 ? 0 : 1;
}
