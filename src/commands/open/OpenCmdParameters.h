#pragma once

#include <iosfwd>
#include <string>

#include "intake/AppCmdParameters.h"

namespace hopwell {

// The chapter's parameter document of the open command.
class OpenCmdParameters : public AppCmdParameters {
 public:
  explicit OpenCmdParameters(std::istream& in) : AppCmdParameters(in) {}
  ~OpenCmdParameters() override = default;

  std::string Ids() { return GetValue("IDS"); }
  std::string Tpvid() { return GetValue("TPVID"); }
  std::string OldTpvid() { return GetValue("OLDTPVID"); }
  std::string PersonId() { return GetValue("personid"); }
  std::string JumpLocation() { return GetValue("jumplocation"); }
  std::string KelvVersion() { return GetValue("kelvversion"); }
  std::string MedId() { return GetValue("MEDID"); }
  std::string DocumentVersion() { return GetValue("documentversion"); }
  std::string ChapterName() { return GetValue("chaptername"); }
  // -1 when missing or empty.
  int DownloadSize() { return GetInt("downloadsize"); }
  // True when missing, empty or "true" in any letter case.
  bool ReadOnly() { return GetBool("readOnly"); }
  std::string LockUrl() { return GetValue("lockurl"); }
  std::string UnlockUrl() { return GetValue("unlockurl"); }
};

}  // namespace hopwell
