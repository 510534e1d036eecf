#pragma once

#include <functional>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Saves of one document take turns, in this process and across the client's processes: an
// flock on "cgu_<id>.lock" in the upload folder, held from before the save reads its request
// until its clean-up is done, so that a save never takes away what a running one of the same
// document made. The lock file is removed when the lock is let go; a save that got the lock
// of a file removed meanwhile takes the lock again on the file now under the name.
class SaveLock {
 public:
  static constexpr int kPollMilliseconds = 100;

  // Waits while another save holds it (with wait), asking shouldStop between short waits;
  // without wait only a free lock is taken.
  SaveLock(boost::filesystem::path lockFile, bool wait,
           const std::function<bool()>& shouldStop = {});
  SaveLock(const SaveLock&) = delete;
  SaveLock& operator=(const SaveLock&) = delete;
  ~SaveLock();

  bool Held() const { return fd_ >= 0; }

  // The lock file of a document: UploadFolder / "cgu_<id>.lock"; empty for an identifier
  // that is no safe file name.
  static boost::filesystem::path LockFileFor(const std::string& documentId);

 private:
  boost::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace hopwell
