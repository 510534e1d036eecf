#include "commands/esef/TaggerInstaller.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/esef/TaggerInstallFlag.h"
#include "common/LogCapture.h"
#include "common/ScriptedHttpHelper.h"
#include "common/TempDir.h"
#include "storage/LocalFolders.h"
#include "storage/ZipFiles.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::LogCapture;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

const char* const kPackageUrl = "http://127.0.0.1:18080/tagger/package.zip";
const char* const kProgram = "AMANA.XBRL.Tagger.Kelvory.exe";

class IdleCmd : public KelvCmd {
 public:
  void DoExecute() override {}
};

// Serves one body per URL, reporting progress as a transfer would; `beforeAnswer` lets a
// test hold a download open.
class PackageServer : public testing::ScriptedHttpHelper {
 public:
  std::map<std::string, std::string> bodies;
  std::function<void()> beforeAnswer;

  HttpResult Get(const std::string& url, std::ostream* out, ProgressCallback progress,
                 void* context, const QueryList& query, const HeaderList& headers,
                 long* statusOut) override {
    if (!IsCommunicationAllowed(url)) return HttpResult::NotAllowed;
    sent.push_back({url, headers, query});
    if (beforeAnswer) beforeAnswer();
    if (result != HttpResult::Ok) return result;
    const std::string& body = bodies[url];
    if (progress) progress(context, body.size(), body.size() / 2, 0, 0);
    *out << body;
    if (progress) progress(context, body.size(), body.size(), 0, 0);
    if (statusOut) *statusOut = status;
    return HttpResult::Ok;
  }
};

std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  TempDir dir;
  std::vector<fs::path> sources;
  std::vector<std::string> names;
  for (const auto& [name, data] : entries) {
    sources.push_back(dir / std::to_string(sources.size()));
    WriteFile(sources.back(), data);
    names.push_back(name);
  }
  auto job = std::make_shared<JobStatus>(ActionKind::EsefDownload, "", "");
  EXPECT_TRUE(ZipFiles(sources, names, dir / "out.zip", 0, job));
  return ReadFile(dir / "out.zip");
}

std::string TaggerPackage(bool withCache = true) {
  std::vector<std::pair<std::string, std::string>> entries = {{kProgram, "tagger v1"},
                                                              {"lib/core.dll", "core"}};
  if (withCache) {
    entries.emplace_back("XBRLCache/XBRLCache.zip", Zip({{"esma/2024/taxonomy.xml", "<t/>"}}));
  }
  return Zip(entries);
}

class TaggerInstallerTest : public ::testing::Test {
 protected:
  // Made before the fixture points TMPDIR elsewhere.
  static void SetUpTestSuite() {
    package_ = TaggerPackage();
    packageWithoutCache_ = TaggerPackage(false);
  }
  TaggerInstallerTest() { server_->bodies[kPackageUrl] = package_; }

  void SetParameters(const std::string& url, const std::string& version, const std::string& size) {
    std::ostringstream xml;
    xml << R"(<data><params><param name="taggerurl" value=")" << url
        << R"("/><param name="taggerversion" value=")" << version
        << R"("/><param name="taggersize" value=")" << size << R"("/></params></data>)";
    std::istringstream in(xml.str());
    parameters_ = std::make_shared<EsefCmdDownloadParameters>(in);
  }

  bool Install(const JobPtr& job) {
    IdleCmd command;
    return TaggerInstaller(job, parameters_, server_, command).InstallTagger();
  }
  bool Install() { return Install(job_); }

  JobPtr NewJob() const {
    return std::make_shared<JobStatus>(ActionKind::EsefDownload, "Opening ESEF...", "kelv:esef:x");
  }

  TempDir dir_;
  ScopedEnv tmp_{"TMPDIR", (dir_ / "tmp").string()};
  ScopedEnv appData_{"APPDATA", (dir_ / "appdata").string()};
  std::shared_ptr<PackageServer> server_ = std::make_shared<PackageServer>();
  std::shared_ptr<EsefCmdDownloadParameters> parameters_;
  JobPtr job_ = NewJob();
  static inline std::string package_;
  static inline std::string packageWithoutCache_;
};

TEST_F(TaggerInstallerTest, InstallsOnceThenTrustsTheRecordedVersion) {
  SetParameters(kPackageUrl, "1.2.3", std::to_string(server_->bodies[kPackageUrl].size()));
  LogCapture log;
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadFile(TaggerFolder() / kProgram), "tagger v1");
  EXPECT_EQ(ReadFile(TaggerFolder() / ".hopwell-installed"), "1.2.3");
  EXPECT_EQ(ReadFile(TaggerVendorFolder() / "XBRLCache" / "esma/2024/taxonomy.xml"), "<t/>");
  EXPECT_EQ(ReadFile(TaggerDownloadFolder() / "1.2.3"), server_->bodies[kPackageUrl]);
  EXPECT_EQ(std::distance(fs::directory_iterator(TaggerDownloadFolder()), {}), 1);
  EXPECT_EQ(job_->GetProgress(), 70);
  EXPECT_EQ(job_->Messages(),
            (std::vector<std::string>{"Installing Kelvory XBRL Tagger...",
                                      "Installing Kelvory XBRL Tagger...",
                                      "Installing Kelvory XBRL Tagger Cache..."}));
  EXPECT_TRUE(log.HasFragment("info", "Tagger URL: " + std::string(kPackageUrl) +
                                          ". Tagger version: 1.2.3. Tagger Download Size: "));
  EXPECT_FALSE(TaggerInstallInProgress());

  job_ = NewJob();
  ASSERT_TRUE(Install());
  EXPECT_TRUE(log.Has("info", "Tagger 1.2.3 is already downloaded, not downloading"));
  // A tagger that lost files, or whose installation was cut short (its staging folders
  // left, no record of the version), is unpacked again from the kept archive.
  const std::function<void()> damages[] = {
      [] { fs::remove(TaggerFolder() / "lib" / "core.dll"); },
      [] { fs::remove_all(TaggerFolder()); },
      [] {
        fs::rename(TaggerFolder(), TaggerFolder().string() + ".old");
        WriteFile(TaggerFolder().string() + ".new/lib/core.dll", "half");
      },
  };
  for (const auto& damage : damages) {
    damage();
    job_ = NewJob();
    ASSERT_TRUE(Install());
    EXPECT_EQ(ReadFile(TaggerFolder() / "lib" / "core.dll"), "core");
    EXPECT_FALSE(fs::exists(TaggerFolder().string() + ".new"));
    EXPECT_FALSE(fs::exists(TaggerFolder().string() + ".old"));
  }
  EXPECT_EQ(server_->sent.size(), 1u);
}

TEST_F(TaggerInstallerTest, FailedStepsReleaseTheFlagAndKeepNothingHalfDone) {
  const std::pair<const char*, std::function<void(PackageServer&)>> failures[] = {
      {"Failed to download http://127.0.0.1:18080/tagger/package.zip to 2.0",
       [](PackageServer& s) { s.result = HttpResult::ReadFailed; }},
      {"    Failed to download tagger: HTTP 404", [](PackageServer& s) { s.status = 404; }},
      {"Failed to extract tagger",
       [](PackageServer& s) { s.bodies[kPackageUrl] = "<html>oops</html>"; }},
      {"Failed to install the XBRL Cache",
       [](PackageServer& s) { s.bodies[kPackageUrl] = packageWithoutCache_; }},
  };
  SetParameters(kPackageUrl, "1.0", "");
  ASSERT_TRUE(Install());
  SetParameters(kPackageUrl, "2.0", "");
  for (const auto& [logged, serve] : failures) {
    SCOPED_TRACE(logged);
    server_ = std::make_shared<PackageServer>();
    server_->bodies[kPackageUrl] = package_;
    serve(*server_);
    LogCapture log;
    EXPECT_FALSE(Install(NewJob()));
    EXPECT_TRUE(log.HasFragment("error", logged));
    EXPECT_FALSE(TaggerInstallInProgress());
    // The installed tagger stays as it was, and nothing of the failed one counts as done.
    EXPECT_EQ(ReadFile(TaggerFolder() / ".hopwell-installed"), "1.0");
    for (const fs::path& left :
         {TaggerDownloadFolder() / "2.0", TaggerDownloadFolder() / "2.0.part",
          fs::path(TaggerFolder().string() + ".new")}) {
      EXPECT_FALSE(fs::exists(left)) << left;
    }
  }
  server_->bodies[kPackageUrl] = package_;
  EXPECT_TRUE(Install(NewJob()));
  EXPECT_EQ(ReadFile(TaggerFolder() / ".hopwell-installed"), "2.0");
}

TEST_F(TaggerInstallerTest, HostileVersionsWriteNothingOutsideTheDownloadFolder) {
  WriteFile(dir_ / "tmp" / "Kelv" / "keep.txt", "mine");
  for (const char* version : {"..", ".", "../evil", "a/b", "/etc/evil"}) {
    SCOPED_TRACE(version);
    SetParameters(kPackageUrl, version, "10");
    LogCapture log;
    EXPECT_FALSE(Install());
    EXPECT_TRUE(log.Has("error", std::string("    Refusing tagger version ") + version));
    EXPECT_FALSE(TaggerInstallInProgress());
  }
  EXPECT_TRUE(server_->sent.empty());
  EXPECT_EQ(ReadFile(dir_ / "tmp" / "Kelv" / "keep.txt"), "mine");
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "evil"));
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "Kelv" / "evil"));
}

// The second command arrives while the first one's download is open: it gives up at once
// with the message, and the first finishes a whole installation.
TEST_F(TaggerInstallerTest, SecondInstallationWhileOneRunsIsRefused) {
  SetParameters(kPackageUrl, "3.0", "100");
  std::mutex lock;
  std::condition_variable changed;
  bool downloading = false;
  bool release = false;
  server_->beforeAnswer = [&] {
    std::unique_lock held(lock);
    downloading = true;
    changed.notify_all();
    changed.wait_for(held, std::chrono::seconds(30), [&] { return release; });
  };
  bool firstResult = false;
  std::thread first([&] { firstResult = Install(job_); });
  {
    std::unique_lock held(lock);
    EXPECT_TRUE(changed.wait_for(held, std::chrono::seconds(30), [&] { return downloading; }));
  }
  EXPECT_TRUE(TaggerInstallInProgress());
  const JobPtr second = NewJob();
  EXPECT_FALSE(Install(second));
  EXPECT_TRUE(TaggerInstallInProgress());  // the refused one leaves the first one's flag alone
  EXPECT_EQ(second->GetProgress(), 0);
  EXPECT_EQ(second->LastMessage(),
            "Kelvory XBRL Tagger is currently installing. You\xE2\x80\x99ll be able to launch it "
            "once the installation is complete.");
  {
    std::lock_guard held(lock);
    release = true;
  }
  changed.notify_all();
  first.join();
  EXPECT_TRUE(firstResult);
  EXPECT_EQ(server_->sent.size(), 1u);
  EXPECT_EQ(ReadFile(TaggerFolder() / kProgram), "tagger v1");
  EXPECT_FALSE(TaggerInstallInProgress());
}

// The flag belongs to an installation: while another command holds it, a command whose
// version is installed already goes on, and only one that needs an installation is refused.
TEST_F(TaggerInstallerTest, OnlyAnInstallationWaitsForTheFlag) {
  WriteFile(TaggerFolder() / ".hopwell-installed", "4.0");
  const TaggerInstallGuard other;
  ASSERT_TRUE(other.Taken());
  for (const auto& [version, installed] : {std::pair{"4.0", true}, std::pair{"5.0", false}}) {
    SCOPED_TRACE(version);
    SetParameters(kPackageUrl, version, "100");
    const JobPtr job = NewJob();
    EXPECT_EQ(Install(job), installed);
    EXPECT_EQ(job->GetProgress(), installed ? 70 : 0);
    EXPECT_EQ(job->Messages().empty(), installed);
    EXPECT_TRUE(TaggerInstallInProgress());  // still the other command's
  }
  EXPECT_TRUE(server_->sent.empty());
}

TEST_F(TaggerInstallerTest, DownloadProgressSpansFiveToSixty) {
  struct ProgressCase {
    const char* size;
    double expected;  // after the first half of the package
  };
  for (const ProgressCase& c : {ProgressCase{"200", 32}, ProgressCase{"50", 60},
                                ProgressCase{"0", 0}, ProgressCase{"", 0}}) {
    SCOPED_TRACE(c.size);
    SetParameters(kPackageUrl, "4.0", c.size);
    IdleCmd command;
    const JobPtr job = NewJob();
    TaggerInstaller installer(job, parameters_, server_, command);
    TaggerInstaller::OnTaggerProgress(&installer, 0, 100, 0, 0);
    EXPECT_EQ(job->GetProgress(), c.expected);
  }
}

}  // namespace
}  // namespace hopwell
