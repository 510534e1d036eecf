#include "commands/esef/EsefCmd.h"

#include <algorithm>
#include <mutex>
#include <ostream>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "common/TempDir.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::LogCapture;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

const char* const kReport = "AnnualReport2025";

// Progress values of the job under test, in the order they were set.
std::mutex progressLock;
std::vector<double> progressSeen;
void RecordProgress(JobStatus* job) {
  std::lock_guard held(progressLock);
  const double value = job->GetProgress();
  if (progressSeen.empty() || progressSeen.back() != value) progressSeen.push_back(value);
}

class EsefCmdSimulatorTest : public testing::SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    std::lock_guard held(progressLock);
    progressSeen.clear();
  }

  bool Switch(const std::string& json) { return sim_->Control("/_sim/esef", &json); }

  std::string Argument() const { return sim_->HttpUrl("/esef/reports/2025") + ":tok42"; }

  // Runs the command on this thread; the tagger is "started" by recording its arguments.
  JobPtr Run(const std::string& argument) {
    auto job = std::make_shared<JobStatus>(ActionKind::EsefDownload, "Opening ESEF...",
                                           "kelv:esef:" + argument);
    job->SetOnChange(&RecordProgress);
    EsefCmd command(argument, job, nullptr,
                    [this](const fs::path& program, const std::vector<std::string>& arguments) {
                      launched_.emplace_back(program, arguments);
                      return 42;
                    });
    command.DoExecute();
    return job;
  }

  // The one work folder below TempRoot/ESEF.
  fs::path WorkFolder() const {
    fs::directory_iterator it(TempRoot() / "ESEF");
    return it == fs::directory_iterator() ? fs::path() : it->path();
  }

  std::size_t CountRequests(const std::string& prefix) const {
    std::size_t count = 0;
    for (const auto& request : sim_->Requests()) count += request.path.rfind(prefix, 0) == 0;
    return count;
  }

  TempDir dir_;
  ScopedEnv tmp_{"TMPDIR", (dir_ / "tmp").string()};
  ScopedEnv appData_{"APPDATA", (dir_ / "appdata").string()};
  std::vector<std::pair<fs::path, std::vector<std::string>>> launched_;
};

TEST_F(EsefCmdSimulatorTest, OpensTheReportInTheTagger) {
  LogCapture log;
  const JobPtr job = Run(Argument());
  ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  EXPECT_EQ(job->DocumentName(), kReport);
  // The package download may add values between 5 and 60, as the transfer reports them.
  std::vector<double> steps;
  for (double value : progressSeen) {
    if (value != 0 && (value <= 5 || value >= 60)) steps.push_back(value);
  }
  EXPECT_EQ(steps, (std::vector<double>{5, 60, 65, 70, 75, 80, 90, 95, 100}));
  EXPECT_TRUE(std::is_sorted(progressSeen.begin(), progressSeen.end()));

  const fs::path folder = WorkFolder();
  EXPECT_EQ(ReadFile(folder / "report.pdf"), "%PDF-1.7 stand-in report AnnualReport2025\n");
  EXPECT_TRUE(fs::exists(folder / "report.pdf.mapping"));
  EXPECT_FALSE(fs::exists(folder / "tagging.pdf.mapping"));
  EXPECT_TRUE(fs::exists(folder / "readme.txt"));  // unpacked flat
  EXPECT_TRUE(fs::exists(TaggerVendorFolder() / "XBRLCache" / "esma/2024/esef_taxonomy.xsd"));

  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].first, TaggerFolder() / "AMANA.XBRL.Tagger.Kelvory.exe");
  EXPECT_EQ(launched_[0].second,
            std::vector<std::string>{"-DocumentName=\"" + (folder / "report.pdf").string() + "\""});
  EXPECT_TRUE(fs::status(launched_[0].first).permissions() & fs::owner_exe);

  for (const auto& request : sim_->Requests()) {
    const bool tokened = request.path.rfind("/esef/tagger/", 0) != 0;
    EXPECT_EQ(request.Header("X-API-Token") == "tok42", tokened) << request.path;
  }
  EXPECT_TRUE(log.Has(
      "info", "    Launching \"" + launched_[0].first.string() + "\": " + launched_[0].second[0]));

  // A second run reuses the installed version and downloads no package.
  Run(Argument());
  EXPECT_EQ(CountRequests("/esef/tagger/"), 1u);
  EXPECT_EQ(launched_.size(), 2u);
}

struct FailureCase {
  const char* label;
  std::string switches;    // POST /_sim/esef
  std::string parameters;  // POST /_sim/parameters, "esef" kind
  std::string message;     // the job's last message
};

// ctest lists each case by its label.
void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << c.label;
}

class EsefCmdFailureTest : public EsefCmdSimulatorTest,
                           public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EsefCmdFailureTest, FailsWithItsMessage) {
  const FailureCase& c = GetParam();
  if (!c.switches.empty()) {
    ASSERT_TRUE(Switch(c.switches));
  }
  if (!c.parameters.empty()) {
    ASSERT_TRUE(sim_->SetParameters(c.parameters));
  }
  WriteFile(dir_ / "tmp" / "Kelv" / "keep.txt", "mine");
  const JobPtr job = Run(Argument());
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), c.message);
  EXPECT_TRUE(launched_.empty());
  // Nothing was written beside the client's own folders.
  std::vector<std::string> top;
  for (fs::directory_iterator it(dir_ / "tmp" / "Kelv"), end; it != end; ++it) {
    top.push_back(it->path().filename().string());
  }
  for (const auto& name : top) {
    EXPECT_TRUE(name == "keep.txt" || name == "ESEF" || name == "tagger" ||
                name == "tagger_download")
        << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "evil.zip"));
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "evil"));
}

const std::string kFailed = "Failed to install Kelvory XBRL Tagger";

INSTANTIATE_TEST_SUITE_P(
    Cases, EsefCmdFailureTest,
    ::testing::Values(
        FailureCase{"TaggerPackage404", R"({"tagger": "404"})", "", kFailed},
        FailureCase{"LockRefused", R"({"lock": "refused"})", "",
                    "Failed to lock the document (AnnualReport2025) for tagging"},
        FailureCase{"LockNotJson", R"({"lock": "not-json"})", "",
                    "Failed to lock the document (AnnualReport2025) for tagging"},
        FailureCase{"ReportFile404", R"({"report": "404"})", "",
                    "Failed to download AnnualReport2025.zip (HTTP 404)"},
        FailureCase{"HostileFileName", "",
                    R"({"kind": "esef", "files": [{"url": "http://127.0.0.1:18080/esef/files/x.zip",
                        "name": "../evil.zip", "decompress": true}]})",
                    "Failed to download ../evil.zip (invalid file name)"},
        FailureCase{"NotAParameterDocument", "", R"({"kind": "esef", "raw": "no document"})",
                    "Failed to lock the document (Chapter) for tagging"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(EsefCmdSimulatorTest, ReportFileCutAFourthTimeLeavesNothingUnderItsName) {
  ASSERT_TRUE(sim_->AddScenario(
      R"({"mode": "cut", "bytes": 50, "count": 4, "path": "/esef/files/AnnualReport2025.zip"})"));
  const JobPtr job = Run(Argument());
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage().rfind("Failed to download AnnualReport2025.zip (", 0), 0u)
      << job->LastMessage();
  EXPECT_EQ(CountRequests("/esef/files/"), 4u) << "three resumes";
  ASSERT_FALSE(WorkFolder().empty());
  EXPECT_TRUE(fs::is_empty(WorkFolder())) << "neither the report nor its .part";
}

TEST_F(EsefCmdSimulatorTest, EpubReportGetsItsEtmMapping) {
  ASSERT_TRUE(Switch(R"({"report": "epub"})"));
  const JobPtr job = Run(Argument());
  ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  EXPECT_TRUE(fs::exists(WorkFolder() / "report.etm"));
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].second[0],
            "-DocumentName=\"" + (WorkFolder() / "report.epub").string() + "\"");
}

TEST_F(EsefCmdSimulatorTest, NoTaggerParametersNeedAnInstalledTagger) {
  ASSERT_TRUE(sim_->SetParameters(R"({"kind": "esef", "remove": ["taggerurl"]})"));
  const JobPtr job = Run(Argument());
  EXPECT_EQ(job->GetState(), JobState::Failed);
  const fs::path program = TaggerFolder() / "AMANA.XBRL.Tagger.Kelvory.exe";
  EXPECT_EQ(job->LastMessage(),
            "The Kelvory XBRL Tagger is not installed, expected at \"" + program.string() + "\".");
  EXPECT_EQ(CountRequests("/api/v2/ext/esef/files_downloaded/"), 1u);
}

}  // namespace
}  // namespace hopwell
