#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "common/ParameterDocument.h"
#include "common/ScriptedHttpHelper.h"
#include "common/TempDir.h"
#include "intake/JobStatus.h"
#include "storage/FileOperations.h"
#include "storage/ZipFiles.h"

namespace hopwell::testing {

// Serves a plug-in package from memory and counts the requests.
class PackageServer : public ScriptedHttpHelper {
 public:
  HttpResult Get(const std::string& url, std::ostream* out, ProgressCallback progress,
                 void* context, const QueryList& query, const HeaderList& headers,
                 long* status) override {
    ++requests;
    if (progress != nullptr) {
      const std::uint64_t total = reportedTotal != 0 ? reportedTotal : body.size();
      progress(context, total, reportedTotal != 0 ? reportedDone : body.size() / 2, 0, 0);
    }
    return ScriptedHttpHelper::Get(url, out, progress, context, query, headers, status);
  }
  std::atomic<int> requests{0};
  // What the progress report before the body says; by default half of the body.
  std::uint64_t reportedTotal = 0;
  std::uint64_t reportedDone = 0;
};

// A package like the platform's: Scripts (a set and a single file), Extensions, x64, Win32.
inline std::string MakePackage(const TempDir& dir, const std::string& version) {
  const boost::filesystem::path source = dir / ("package-" + version);
  const std::vector<std::string> names = {"Scripts/Set/start.jsx", "Scripts/readme.txt",
                                          "Extensions/com.kelvory.panel/index.html", "x64/Kelv.pln",
                                          "Win32/Kelv.pln"};
  std::vector<boost::filesystem::path> files;
  for (const std::string& name : names) {
    files.push_back(source / name);
    boost::filesystem::create_directories(files.back().parent_path());
    WriteFile(files.back(), name + " " + version);
  }
  const boost::filesystem::path archive = dir / ("package-" + version + ".zip");
  auto job = std::make_shared<JobStatus>(ActionKind::Install, "", "");
  if (!ZipFiles(files, names, archive, 0, job)) return {};
  return ReadFile(archive);
}

inline std::string HexCrc(const std::string& bytes, const TempDir& dir) {
  WriteFile(dir / "crc-input", bytes);
  char text[16];
  std::snprintf(text, sizeof text, "%08x", FileCrc32(dir / "crc-input"));
  return text;
}

}  // namespace hopwell::testing
