#pragma once

#include <cstdint>

#include <boost/filesystem/path.hpp>

#include "commands/open/CommandContext.h"
#include "net/IHttpHelper.h"

namespace hopwell {

class OpenCmdParameters;

// How a download reports its bytes to its command: `callback` with `context` for files
// announced with a size above 0, and `fileBytes` reset to 0 before each file.
struct DownloadProgressSink {
  ProgressCallback callback = nullptr;
  void* context = nullptr;
  std::uint64_t* fileBytes = nullptr;
};

// Downloads every listed file into the chapter's folder (GetDownloadFolder), unpacks the
// archives among them flat into it and names the InDesign document they hold. documentPath
// receives the last such document (empty when there is none). False after a failure was
// reported on the job; nothing is written outside the chapter's folder.
[[nodiscard]] bool DownloadFiles(CommandContext& command, OpenCmdParameters& parameters,
                                 const DownloadProgressSink& progress,
                                 boost::filesystem::path& documentPath);

}  // namespace hopwell
