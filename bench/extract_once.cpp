// One extraction by ZipExtractor, for system-call counts beside unzip (bench/strace_extract.sh)
// and quick timings by hand.
//
//   bench_extract_once ARCHIVE DESTINATION [flat|kept [THREADS]]
#include <chrono>
#include <cstdio>
#include <string>

#include "storage/ZipExtractor.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: %s ARCHIVE DESTINATION [flat|kept [THREADS]]\n", argv[0]);
    return 2;
  }
  const bool keepFolders = argc == 3 || std::string(argv[3]) != "flat";
  hopwell::ZipExtractor extractor(argv[1]);
  if (argc == 5) extractor.SetMaxThreads(static_cast<unsigned>(std::stoul(argv[4])));
  const auto start = std::chrono::steady_clock::now();
  const bool ok = extractor.Extract(keepFolders, argv[2]);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s %.3f s\n", ok ? "extracted" : "FAILED", seconds);
  return ok ? 0 : 1;
}
