#pragma once

namespace hopwell {

// TaggerInstallInProgress: process-wide, set while one ESEF command installs the tagger.
// Taking it is one atomic test-and-set, so of two commands that start together exactly
// one installs and the other sees the flag.
bool TaggerInstallInProgress();

// Holds the flag for its lifetime when it could take it; clears it on every way out of
// the installation.
class TaggerInstallGuard {
 public:
  TaggerInstallGuard();
  ~TaggerInstallGuard();
  TaggerInstallGuard(const TaggerInstallGuard&) = delete;
  TaggerInstallGuard& operator=(const TaggerInstallGuard&) = delete;

  // False when another installation held the flag already.
  bool Taken() const { return taken_; }

 private:
  bool taken_;
};

}  // namespace hopwell
