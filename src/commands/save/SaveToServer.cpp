#include <exception>

#include <fmt/format.h>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <boost/thread/thread.hpp>

#include "commands/save/ListedFiles.h"
#include "commands/save/SaveCmd.h"
#include "net/ChunkedUploader.h"
#include "net/UrlTools.h"
#include "storage/FileOperations.h"
#include "storage/ZipFiles.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Joins every zip thread on every path out of ZipArchives, so none outlives the command's
// look at the archives or goes on adding progress to a finished job.
struct ZipThreads {
  boost::thread_group group;
  ~ZipThreads() { group.join_all(); }
};

}  // namespace

std::vector<fs::path> SaveCmd::ZipArchives(const SaveRequest& request, const fs::path& folder) {
  const double share = 15.0 / static_cast<double>(request.archives.size());
  std::vector<fs::path> paths;
  // One slot per thread, written only by its thread and read after the join.
  auto zipped = std::make_shared<std::vector<ZipOutcome>>(request.archives.size());
  {
    ZipThreads threads;
    for (std::size_t i = 0; i < request.archives.size(); ++i) {
      std::vector<fs::path> sources;
      std::vector<std::string> names;
      for (const UploadFile& file : request.archives[i].files) {
        sources.emplace_back(file.localPath);
        names.push_back(file.name);
      }
      // Made empty at once, so the next archive's name is the next free one.
      const fs::path archive = NextArchiveName(folder, documentId_);
      if (archive.empty() || !OpenFile(archive, "wb")) {
        job_->JobFailed(boost::format("Error when zipping to %1%") % archive);
        return {};
      }
      paths.push_back(archive);
      HW_LOG(log_, info) << "Spawning thread to zip " << archive;
      threads.group.create_thread([sources = std::move(sources), names = std::move(names), archive,
                                   share, job = job_, zipped, i] {
        try {
          (*zipped)[i] = ZipEachFile(sources, names, archive, share, job);
        } catch (const std::exception& error) {
          (*zipped)[i].archiveError = error.what();
        }
      });
    }
  }
  job_->SetProgress(15);
  // Every file of every archive must be in it whole: an archive short of one would be
  // checked in, and the clean-up would then delete the only complete copy.
  bool complete = true;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const ZipOutcome& outcome = (*zipped)[i];
    const auto& files = request.archives[i].files;
    for (std::size_t f = 0; f < outcome.fileErrors.size() && f < files.size(); ++f) {
      if (outcome.fileErrors[f].empty()) continue;
      job_->JobFailed(boost::format("Error when zipping %1%: %2%") % fs::path(files[f].localPath) %
                      outcome.fileErrors[f]);
      complete = false;
    }
    boost::system::error_code error;
    if (!outcome.archiveError.empty() || outcome.fileErrors.size() != files.size() ||
        !fs::exists(paths[i], error)) {
      job_->JobFailed(boost::format("Error when zipping to %1%: %2%") % paths[i] %
                      (outcome.archiveError.empty() ? "it was not made" : outcome.archiveError));
      complete = false;
    }
  }
  if (!complete) return {};
  return paths;
}

bool SaveCmd::SaveToServer(SaveRequest& request) {
  const auto folder = RequestFolder();
  if (!folder || !CheckListedFiles(request, *job_)) return false;

  const std::vector<fs::path> paths = ZipArchives(request, *folder);
  // A job failed on the way (by a zip thread, say) is never carried on to a check-in that
  // would report it a success.
  if (paths.size() != request.archives.size() || job_->GetState() == JobState::Failed) {
    return false;
  }
  std::vector<UploadArchive> uploaded;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    boost::system::error_code error;
    const std::uintmax_t size = fs::file_size(paths[i], error);
    uploaded.push_back({paths[i].filename().string(), paths[i], error ? std::uintmax_t{0} : size,
                        fmt::format("{:X}", FileCrc32(paths[i])), request.archives[i].files});
  }

  job_->AddMessage("Uploading chapter");
  const std::string uploadUrl = JoinUrl(request.platformUrl, "/api/v2/ext/upload");
  for (const fs::path& archive : paths) {
    ChunkedUploader uploader(archive, uploadUrl, request.token);
    if (!uploader.UploadInChunks()) {
      HW_LOG(log_, error) << "Failed to upload " << archive;
      job_->JobFailed("Failed to upload");
      return false;
    }
    job_->AddProgress(75.0 / static_cast<double>(paths.size()));
  }
  job_->SetProgress(90);
  if (job_->GetState() == JobState::Failed) return false;
  request.archives = std::move(uploaded);
  return CheckIn(request);
}

}  // namespace hopwell
