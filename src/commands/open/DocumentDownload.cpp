#include "commands/open/DocumentDownload.h"

#include <fstream>
#include <string_view>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "commands/open/DownloadFolder.h"
#include "commands/open/FileDownloadInfo.h"
#include "commands/open/InddFile.h"
#include "commands/open/OpenCmdParameters.h"
#include "net/ResumableDownload.h"
#include "net/UrlTools.h"
#include "storage/FileSpace.h"
#include "storage/SafePath.h"
#include "storage/ZipExtractor.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr std::string_view kStatusPrefix = "boost::filesystem::status: ";
constexpr std::size_t kFileBufferSize = 1 << 20;

// The chapter's folder, or empty after the failure was reported on the job.
fs::path PrepareFolder(CommandContext& command, OpenCmdParameters& parameters) {
  fs::path folder;
  try {
    folder = GetDownloadFolder(parameters);
  } catch (const fs::filesystem_error& error) {
    HW_LOG(command.log, warning) << "    Error in GetDownloadFolder: " << error.what();
    std::string_view text = error.what();
    if (text.substr(0, kStatusPrefix.size()) == kStatusPrefix)
      text.remove_prefix(kStatusPrefix.size());
    command.job.JobFailed(std::string(text));
    return {};
  }
  if (folder.empty()) {
    command.job.JobFailed("Couldn't save document to local disk");
  } else {
    command.job.SetFolder(folder.string());
  }
  return folder;
}

// Fetches one file into target. It is written as "<name>.part" and renamed once it is
// complete, so that an error page or a download cut short never stands under the file's
// name (and never replaces a file of that name). False after the failure was reported on
// the job; the partial file is gone then.
bool FetchFile(CommandContext& command, const FileDownloadInfo& file, const fs::path& target,
               const DownloadProgressSink& progress) {
  fs::path partial = target;
  partial += ".part";
  std::vector<char> buffer(kFileBufferSize);
  std::ofstream out;
  out.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  out.open(partial.string(), std::ios::binary | std::ios::trunc);
  ReserveFileSpace(partial, file.size);
  if (progress.fileBytes != nullptr) *progress.fileBytes = 0;
  const HeaderList headers = {MakeTokenHeader(command.token)};
  long status = 0;
  const bool reports = file.size > 0 && progress.callback != nullptr;
  ResumableDownload download(command.http, out, partial);
  const HttpResult result = download.Get(file.url, reports ? progress.callback : nullptr,
                                         reports ? progress.context : nullptr, headers, &status);
  out.close();
  ReleaseUnusedFileSpace(partial, file.size);
  boost::system::error_code error;
  const auto fail = [&](const boost::format& message) {
    command.job.JobFailed(message);
    fs::remove(partial, error);
    return false;
  };
  if (result != HttpResult::Ok) {
    return fail(boost::format("Failed to download %1% (%2%)") % file.name %
                download.ErrorText(result));
  }
  // An error page is not the chapter's file.
  if (status >= 400) {
    return fail(boost::format("Failed to download %1% (%2%)") % file.name %
                ("HTTP " + std::to_string(status)));
  }
  if (out.fail()) {
    return fail(boost::format("Failed to download %1% (%2%)") % file.name %
                "the file could not be written");
  }
  if (fs::file_size(partial, error) == 0 && !error) {
    return fail(boost::format("Failed to download %1%") % target);
  }
  fs::rename(partial, target, error);
  if (error) {
    return fail(boost::format("Failed to download %1% (%2%)") % file.name % error.message());
  }
  return true;
}

}  // namespace

bool DownloadFiles(CommandContext& command, OpenCmdParameters& parameters,
                   const DownloadProgressSink& progress, fs::path& documentPath) {
  command.job.AddMessage("Downloading files...");
  bool success = true;
  const fs::path folder = PrepareFolder(command, parameters);
  if (folder.empty()) return false;

  const auto files = GetFiles(parameters, command.log);
  const std::size_t count = files.size();
  for (std::size_t index = 0; index < count; ++index) {
    const FileDownloadInfo& file = *files[index];
    command.job.AddMessage(boost::format("Downloading file %1% of %2%") % (index + 1) % count);
    HW_LOG(command.log, trace) << "Downloading file " << file.name << "...";
    if (file.name.empty()) {
      HW_LOG(command.log, error) << "Filename of file to download (" << index << "/" << count
                                 << ") is empty";
      command.job.JobFailed(boost::format("Failed to download file %1% (of %2%)") % (index + 1) %
                            count);
      return false;
    }
    const auto target = JoinChecked(folder, file.name);
    if (!target) {
      HW_LOG(command.log, error) << "Refused file name of file to download (" << index << "/"
                                 << count << "): " << file.name;
      command.job.JobFailed(boost::format("Failed to download file %1% (of %2%)") % (index + 1) %
                            count);
      return false;
    }
    if (!FetchFile(command, file, *target, progress)) return false;
    if (!file.decompress) continue;

    std::vector<fs::path> extracted;
    if (!ZipExtractor(*target).Extract(false, target->parent_path(), &extracted)) {
      command.job.JobFailed(boost::format("Failed to unzip %s") % *target);
      return false;
    }
    for (const auto& path : extracted) {
      if (path.extension() != ".indd") continue;
      documentPath = PrepareInddFile(command, parameters, path);
      // The job has been failed already: the open must not go on with another document.
      if (documentPath.empty()) return false;
      boost::system::error_code error;
      success = fs::exists(documentPath, error);
    }
  }
  return success;
}

}  // namespace hopwell
