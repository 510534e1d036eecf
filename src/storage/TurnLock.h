#pragma once

#include <functional>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Work that must not run twice at once (two saves of one document, two installations of the
// tagger) takes turns on an flock of a lock file, in this process and across the client's
// processes. The lock file is removed when the lock is let go, so none stays behind; a holder
// that got the lock of a file removed meanwhile takes the lock again on the file now under
// the name. A killed holder's file is taken over by the next one.
class TurnLock {
 public:
  static constexpr int kPollMilliseconds = 100;

  // Waits while another holds it (with wait), asking shouldStop between short waits;
  // without wait only a free lock is taken. An empty path is never held.
  TurnLock(boost::filesystem::path lockFile, bool wait,
           const std::function<bool()>& shouldStop = {});
  TurnLock(const TurnLock&) = delete;
  TurnLock& operator=(const TurnLock&) = delete;
  ~TurnLock();

  bool Held() const { return fd_ >= 0; }

 private:
  boost::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace hopwell
