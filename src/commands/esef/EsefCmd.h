#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "commands/esef/EsefCmdDownloadParameters.h"
#include "commands/esef/EsefCmdParameters.h"
#include "commands/open/FileDownloadInfo.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// The "esef" command: fetches an ESEF report from the platform and opens it in the XBRL
// tagger, installing the tagger first when the server names a version not yet downloaded.
class EsefCmd : public KelvCmd {
 public:
  // Starts program with the argument vector; a result above 32 is success.
  using TaggerLauncher = std::function<int(const boost::filesystem::path& program,
                                           const std::vector<std::string>& arguments)>;

  // The argument is the server's address and the token, joined by a ":".
  EsefCmd(const std::string& argument, JobPtr job);
  // Another helper and way of starting the tagger, for test rigs.
  EsefCmd(const std::string& argument, JobPtr job, HttpHelperPtr http, TaggerLauncher launch);
  ~EsefCmd() override = default;

  void DoExecute() override;

  // 0: the lock request, 1: the files-downloaded request.
  virtual std::string ActionFailureText(int action);
  // The first ".pdf" of the folder, else the first ".epub"; empty when there is none.
  virtual boost::filesystem::path FindTaggerDocument(const boost::filesystem::path& folder);
  // The first ".pdf.mapping" of the folder, else the first ".etm".
  virtual boost::filesystem::path FindMappingFile(const boost::filesystem::path& folder);
  virtual std::string MappingExtension(const boost::filesystem::path& path);

  bool CheckResponse(HttpResult result, long status, const std::string& text);
  bool LockReport();
  bool MarkReportDownloaded();
  boost::filesystem::path CreateReportFolder();
  bool DownloadReportFiles(const std::vector<FileDownloadInfoPtr>& files,
                           const boost::filesystem::path& folder);
  // Nothing on success, else what went wrong: the transfer's error text, "HTTP " + status,
  // a refused name or a file that could not be written.
  std::optional<std::string> DownloadReportFile(const FileDownloadInfo& file,
                                                const boost::filesystem::path& folder);
  bool ExtractReportFiles(const std::vector<FileDownloadInfoPtr>& files,
                          const boost::filesystem::path& folder);
  bool RestoreMappings(const boost::filesystem::path& document,
                       const boost::filesystem::path& folder);
  bool LaunchTagger(const boost::filesystem::path& document);

  // The first ".zip" file's name without ".zip"; "Chapter" when there is none.
  static std::string ReportName(const std::vector<FileDownloadInfoPtr>& files);

 private:
  void Execute();
  bool SendStatusRequest(const std::string& url, int action);
  boost::filesystem::path FindByEnding(const boost::filesystem::path& folder,
                                       const std::vector<std::string>& endings);

  std::shared_ptr<EsefCmdDownloadParameters> downloadParameters_;
  EsefCmdParameters parameters_;
  std::string argument_;
  JobPtr job_;
  HttpHelperPtr http_;
  TaggerLauncher launch_;
};

// Starts the tagger with posix_spawn (no shell): the argument vector arrives as built.
EsefCmd::TaggerLauncher DefaultTaggerLauncher();

}  // namespace hopwell
