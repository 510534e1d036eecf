// The esef command's work folder: download, extraction and the tagger's document.
#include <cerrno>
#include <cstring>
#include <fstream>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "commands/esef/EsefCmd.h"
#include "net/ResumableDownload.h"
#include "net/UrlTools.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"
#include "storage/ZipExtractor.h"

namespace hopwell {

namespace fs = boost::filesystem;

fs::path EsefCmd::CreateReportFolder() {
  const fs::path folder = EsefWorkFolder();
  if (!CreateFolder(folder)) {
    HW_LOG(log_, warning) << "    Failed to create ESEF document folder";
    return {};
  }
  boost::system::error_code error;
  if (fs::is_directory(fs::status(folder, error))) return folder;
  HW_LOG(log_, warning) << "    " << folder << " is not a folder (" << error.message() << ")";
  return {};
}

bool EsefCmd::DownloadReportFiles(const std::vector<FileDownloadInfoPtr>& files,
                                  const fs::path& folder) {
  const std::size_t count = files.size();
  for (std::size_t i = 0; i < count; ++i) {
    const FileDownloadInfo& file = *files[i];
    HW_LOG(log_, info) << "    Downloading " << file.url;
    job_->AddMessage(boost::format("Downloading file %1% of %2%...") % (i + 1) % count);
    if (const auto failure = DownloadReportFile(file, folder)) {
      job_->JobFailed(boost::format("Failed to download %1% (%2%)") % file.name % *failure);
      return false;
    }
  }
  return true;
}

std::optional<std::string> EsefCmd::DownloadReportFile(const FileDownloadInfo& file,
                                                       const fs::path& folder) {
  const auto target = JoinChecked(folder, file.name);
  if (!target) {
    HW_LOG(log_, error) << "    Refusing file name " << file.name;
    return "invalid file name";
  }
  // Written as "<name>.part" and renamed once complete: a download that failed or was
  // cancelled leaves nothing under the report's name.
  fs::path partial = *target;
  partial += ".part";
  std::ofstream out(partial.string(), std::ios::binary | std::ios::trunc);
  if (!out) {
    HW_LOG(log_, error) << "    Failed to create " << partial << ": " << std::strerror(errno);
    return "could not create the file";
  }
  long status = 0;
  ResumableDownload download(*http_, out, partial);
  const HttpResult result =
      download.Get(file.url, nullptr, nullptr, {MakeTokenHeader(parameters_.token)}, &status);
  out.close();
  std::string failure;
  boost::system::error_code error;
  if (result != HttpResult::Ok) {
    failure = download.ErrorText(result);
  } else if (status >= 400) {
    // An error page is not the report.
    failure = "HTTP " + std::to_string(status);
  } else if (out.fail()) {
    failure = "could not write the file";
  } else if (fs::rename(partial, *target, error); error) {
    failure = error.message();
  } else {
    return std::nullopt;
  }
  HW_LOG(log_, error) << "    Failed to download " << file.url << ": " << failure;
  fs::remove(partial, error);
  return failure;
}

bool EsefCmd::ExtractReportFiles(const std::vector<FileDownloadInfoPtr>& files,
                                 const fs::path& folder) {
  for (const auto& file : files) {
    if (!file->decompress) continue;
    const auto archive = JoinChecked(folder, file->name);
    if (!archive || !ZipExtractor(*archive).Extract(false, folder)) {
      HW_LOG(log_, warning) << "    Failed to decompress "
                            << (archive ? *archive : fs::path(file->name));
      return false;
    }
  }
  return true;
}

}  // namespace hopwell
