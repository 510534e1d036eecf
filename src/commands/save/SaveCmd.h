#pragma once

#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "commands/save/SaveRequest.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// "save": sends a chapter the plug-in asked to save back to the platform. Reads the save
// request from the upload folder, checks the token, zips each listed archive on a thread of
// its own, uploads the archives in chunks, checks the chapter in and removes the local copies.
class SaveCmd : public KelvCmd {
 public:
  // argument: the document identifier, optionally followed by ":" and an upload key, in
  // which case the request lies in the identifier's subfolder of the upload folder.
  SaveCmd(std::string argument, JobPtr job);

  void DoExecute() override;

  // UploadFolder / "cgu_<id>.xml"; empty when the identifier cannot name a file there.
  boost::filesystem::path SaveRequestPath() const;
  [[nodiscard]] bool VerifyUploadToken(const std::string& platformUrl, const std::string& token);
  // Zips, uploads and checks in; the request's archives are replaced by those uploaded.
  [[nodiscard]] bool SaveToServer(SaveRequest& request);
  [[nodiscard]] bool CheckIn(const SaveRequest& request);

 private:
  void Execute();
  // The request of this save: the one the job's first attempt read when it is retried,
  // else the file, which is removed once read (a later save is started from the plug-in).
  // A request read from the file is kept in the job for a retry.
  [[nodiscard]] bool TakeSaveRequest(SaveRequest& request);
  // After the platform confirmed the check-in: the clean-up, which a cancel no longer stops.
  void FinishConfirmedSave(const SaveRequest& request);
  // With the document's turn held, once the request was read (or not): drops or finishes
  // the recorded clean-up of an earlier save of the document, and removes the archives
  // earlier saves of it left.
  void ClearEarlierSave(bool requestRead);
  // The folder that holds the request and the archives; empty for an unusable identifier.
  std::optional<boost::filesystem::path> RequestFolder() const;
  // Zips every archive at once, one thread each; the archive paths in request order, empty
  // when any of them failed (the job says why).
  std::vector<boost::filesystem::path> ZipArchives(const SaveRequest& request,
                                                   const boost::filesystem::path& folder);

  bool argumentValid_ = false;
  std::string documentId_;
  std::string argument_;
  std::string uploadKey_;
  JobPtr job_;
  HttpHelperPtr http_;
};

}  // namespace hopwell
