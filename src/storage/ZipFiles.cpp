#include "storage/ZipFiles.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <minizip/zip.h>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "base/Logging.h"
#include "storage/FileOperations.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr std::size_t kCopyBufferSize = 16384;
constexpr int kCompressionLevel = 6;
constexpr int kMemoryLevel = 8;
constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr std::uintmax_t kZip64Threshold = 0xFFFFFFFFu;

LogSource& ZipLog() {
  static LogSource source;
  return source;
}

// minizip sets up a fresh deflate state (about 256 KiB) for every entry. With glibc's
// default trim threshold that memory goes back to the kernel when the entry closes and is
// faulted in again for the next one, which doubles the time for folders of small files.
// Keeping a few MiB of freed heap in the process avoids it.
// Setting the trim threshold also stops glibc from raising its mmap threshold as large blocks
// are freed, so it is set here to where that would have taken it: otherwise every later
// transfer maps, faults in and unmaps a fresh copy of libcurl's 512 KiB upload buffer
// (about a quarter of a millisecond for each 1 MiB chunk of a save).
void KeepDeflateMemory() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
  });
#endif
}

// The file's last-write time as local broken-down time, which minizip turns into DOS form.
zip_fileinfo EntryInfo(const fs::path& source) {
  zip_fileinfo info{};
  boost::system::error_code error;
  const std::time_t written = fs::last_write_time(source, error);
  std::tm local{};
  if (!error && localtime_r(&written, &local) != nullptr) {
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
  }
  return info;
}

// The system's reason; minizip fails some calls without one.
std::string SystemText(int error) {
  if (error == 0) return "no system error";
  return boost::system::error_code(error, boost::system::system_category()).message();
}

// Adds one file; returns its status (0 when the entry is complete) and, when it is not, why.
int AddFile(zipFile archive, const fs::path& source, const std::string& entryName,
            std::vector<char>& buffer, IWorkProgress& job, std::string& why) {
  // The source is opened before its entry, so that an unreadable file leaves no empty entry.
  FileHandle file = OpenFile(source, "rb");
  if (!file) {
    why = "cannot open it (" + SystemText(errno) + ")";
    job.WorkFailed((boost::format("Error in opening %1% for reading") % source).str());
    return -1;
  }
  const zip_fileinfo info = EntryInfo(source);
  boost::system::error_code error;
  const std::uintmax_t size = fs::file_size(source, error);
  // Sizes of 4 GiB and more need the zip64 records; smaller entries stay plain.
  const int zip64 = !error && size >= kZip64Threshold ? 1 : 0;
  int status =
      zipOpenNewFileInZip4_64(archive, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, kCompressionLevel, 0, -MAX_WBITS, kMemoryLevel,
                              Z_DEFAULT_STRATEGY, nullptr, 0, 0, kUtf8NameFlag, zip64);
  if (status != ZIP_OK) {
    why = "cannot start its entry (zip status " + std::to_string(status) + ")";
    job.WorkFailed((boost::format("Error in opening %1% in zipfile") % entryName).str());
    return status;
  }
  for (;;) {
    if (job.CancelRequested()) {
      why = "cancelled";
      status = ZIP_ERRNO;  // the entry stays unfinished: a cancelled save uploads nothing
      break;
    }
    errno = 0;
    const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (count < buffer.size() && std::ferror(file.get()) != 0) {
      why = "cannot read it whole (" + SystemText(errno) + ")";
      job.WorkFailed((boost::format("Error in reading %1%") % source).str());
      status = -1;
    }
    if (count > 0 && status == 0) {
      errno = 0;
      if (zipWriteInFileInZip(archive, buffer.data(), static_cast<unsigned>(count)) < 0) {
        why = "cannot write it into the archive (" + SystemText(errno) + ")";
        job.WorkFailed((boost::format("Error in writing %1% in the zipfile") % entryName).str());
        status = ZIP_ERRNO;
      }
    }
    if (status != 0 || count < buffer.size()) break;
  }
  file.reset();
  if (status == 0) {
    status = zipCloseFileInZip(archive);
    if (status != ZIP_OK) {
      why = "cannot finish its entry (zip status " + std::to_string(status) + ")";
      job.WorkFailed((boost::format("Error in closing %1% in the zipfile") % entryName).str());
    }
  }
  return status;
}

}  // namespace

bool ZipOutcome::LastFileAdded() const {
  return archiveError.empty() && (fileErrors.empty() || fileErrors.back().empty());
}

bool ZipOutcome::AllAdded() const {
  return archiveError.empty() && std::all_of(fileErrors.begin(), fileErrors.end(),
                                             [](const std::string& why) { return why.empty(); });
}

ZipOutcome ZipEachFile(const std::vector<fs::path>& sources,
                       const std::vector<std::string>& entryNames, const fs::path& archive,
                       double progressShare, const std::shared_ptr<IWorkProgress>& job) {
  HW_LOG(ZipLog(), debug) << "Zipping " << archive << "...";
  ZipOutcome outcome;
  if (!job) {
    HW_LOG(ZipLog(), error) << "Zipping " << archive << " without a job";
    outcome.archiveError = "no job";
    return outcome;
  }
  const auto finish = [&](std::string why) {
    outcome.archiveError = std::move(why);
    job->AddProgress(progressShare);
    return outcome;
  };
  if (sources.size() != entryNames.size()) {
    job->WorkFailed((boost::format("Error in zipping %1%: %2% files but %3% entry names") %
                     archive.filename() % sources.size() % entryNames.size())
                        .str());
    return finish("the file list and the entry names differ in length");
  }
  KeepDeflateMemory();
  std::vector<char> buffer;
  try {
    buffer.resize(kCopyBufferSize);
  } catch (const std::bad_alloc&) {
    job->WorkFailed("Error allocating memory\n");
    return finish("out of memory");
  }
  errno = 0;
  zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) {
    const std::string why = "cannot create it (" + SystemText(errno) + ")";
    job->WorkFailed((boost::format("Error opening %1%") % archive.filename()).str());
    return finish(why);
  }
  int status = 0;
  outcome.fileErrors.resize(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (job->CancelRequested()) {
      outcome.fileErrors[i] = "cancelled";
      status = ZIP_ERRNO;
      continue;
    }
    status = AddFile(zip, sources[i], entryNames[i], buffer, *job, outcome.fileErrors[i]);
  }
  // The central directory is written here: an archive without it is unusable.
  errno = 0;
  std::string closeError;
  if (const int closed = zipClose(zip, nullptr); closed != ZIP_OK) {
    closeError =
        "cannot finish it (" + SystemText(errno) + ", zip status " + std::to_string(closed) + ")";
    job->WorkFailed((boost::format("Error in closing %1%") % archive.filename()).str());
    if (status == 0) status = ZIP_ERRNO;
  }
  finish(std::move(closeError));
  HW_LOG(ZipLog(), debug) << "Zipping " << archive << " done (" << status << ")";
  return outcome;
}

bool ZipFiles(const std::vector<fs::path>& sources, const std::vector<std::string>& entryNames,
              const fs::path& archive, double progressShare,
              const std::shared_ptr<IWorkProgress>& job) {
  return ZipEachFile(sources, entryNames, archive, progressShare, job).LastFileAdded();
}

fs::path NextArchiveName(const fs::path& folder, const std::string& documentId) {
  for (unsigned long long n = 0;; ++n) {
    const std::string name = (boost::format("cgu_%1%_%2%.zip") % documentId % n).str();
    const auto candidate = JoinChecked(folder, name);
    if (!candidate) {
      HW_LOG(ZipLog(), error) << "Invalid document identifier for an archive name: " << documentId;
      return {};
    }
    boost::system::error_code error;
    const bool taken = PathExists(*candidate, error);
    // A name that cannot be looked at may be taken: an archive there must not be truncated.
    if (error) {
      HW_LOG(ZipLog(), error) << "Cannot tell whether " << *candidate
                              << " exists: " << error.message();
      return {};
    }
    if (!taken) return *candidate;
  }
}

}  // namespace hopwell
