#pragma once

#include <mutex>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Held while "CurrentDocuments.cdb" is read, changed and written back, so that two commands
// (in this process or in another client process) that update it together keep both changes.
// Threads of this process queue on a mutex; processes on an flock of the lock file beside the
// table ("CurrentDocuments.cdb.lock"). Both are released by the destructor.
class DocumentTableLock {
 public:
  // Locks the table at `table`; CurrentDocumentsDbPath() by default. Blocks until both locks
  // are held. When the lock file cannot be made, only the mutex is held (Locked() false).
  DocumentTableLock();
  explicit DocumentTableLock(const boost::filesystem::path& table);
  ~DocumentTableLock();
  DocumentTableLock(const DocumentTableLock&) = delete;
  DocumentTableLock& operator=(const DocumentTableLock&) = delete;

  // True when the file lock is held as well as the mutex.
  bool Locked() const { return fd_ >= 0; }

  static boost::filesystem::path LockFilePath(const boost::filesystem::path& table);

 private:
  std::unique_lock<std::mutex> inProcess_;
  int fd_ = -1;
};

}  // namespace hopwell
