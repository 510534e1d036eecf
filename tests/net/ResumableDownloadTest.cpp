// A chapter archive fetched through the real transfer from the simulator, whose answers are
// cut, reset, stalled or answered without honouring the range.
#include "net/ResumableDownload.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "base/CancelToken.h"
#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "common/TempDir.h"
#include "net/HttpHelperCurl.h"
#include "net/HttpTestSupport.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ProgressLog;
using testing::ReadFile;
using testing::TempDir;

constexpr int kArchiveBytes = 1 << 20;
const char* const kArchivePath = "/api/v2/ext/chapter/tpv-1/files/chapter.zip";

struct ResumeCase {
  const char* name;
  // Scenario rules for an archive of `size` bytes.
  std::function<std::vector<std::string>(std::uint64_t size)> rules;
  HttpResult result;
  int resumes;
  std::vector<int> statuses;  // of the requests the simulator received, in order
  // Archive: the archive; Changed: its other version (every byte flipped, `extra` more);
  // Removed: no file is left.
  enum class Content { Archive, Changed, ErrorPage, Removed, Whatever } content;
  bool evenCuts = false;  // each request starts where the one before was cut
  int restarts = 0;
  // The validator a Range request carries as If-Range: "etag", "date" or "" for none.
  std::string ifRange = "etag";
  int extra = 0;
};

void PrintTo(const ResumeCase& c, std::ostream* out) {
  *out << c.name;
}

std::string Cut(std::uint64_t bytes, int count, const char* how = "close") {
  return fmt::format(R"({{"mode": "cut", "bytes": {}, "count": {}, "how": "{}", "path": "{}"}})",
                     bytes, count, how, kArchivePath);
}

class ResumableDownloadTest : public testing::SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    const std::string settings = fmt::format(R"({{"archive_bytes": {}}})", kArchiveBytes);
    ASSERT_TRUE(sim_->Control("/_sim/chapter", &settings));
    std::ostringstream whole;
    ASSERT_EQ(Http().Get(sim_->HttpUrl(kArchivePath), &whole), HttpResult::Ok);
    archive_ = whole.str();
    ASSERT_GT(archive_.size(), 100000u);
    ASSERT_TRUE(sim_->ClearRequests());
  }

  // The archive's requests once the simulator has noted what it sent for each.
  std::vector<testing::SimulatorRequest> ArchiveRequests() const {
    std::vector<testing::SimulatorRequest> found;
    for (int attempt = 0; attempt < 50; ++attempt) {
      found.clear();
      bool noted = true;
      for (const auto& request : sim_->Requests()) {
        if (request.path != kArchivePath) continue;
        found.push_back(request);
        noted = noted && (request.bytesSent > 0 || request.status != 200);
      }
      if (noted) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return found;
  }

  IHttpHelper& Http() { return *http_; }

  std::shared_ptr<HttpHelperCurl> http_ = std::make_shared<HttpHelperCurl>();
  TempDir dir_;
  std::string archive_;
};

class ResumeCasesTest : public ResumableDownloadTest,
                        public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeCasesTest, FileHoldsWhatTheLastAnswerSaid) {
  const ResumeCase& row = GetParam();
  for (const std::string& rule : row.rules(archive_.size())) ASSERT_TRUE(sim_->AddScenario(rule));
  TransferLimits limits = DefaultTransferLimits();
  limits.idle = std::chrono::milliseconds(1000);  // a stalled answer is cut after a second
  http_->SetTransferLimits(limits);

  testing::LogCapture log;
  const fs::path target = dir_ / "chapter.zip";
  std::ofstream file(target.string(), std::ios::binary | std::ios::trunc);
  ProgressLog progress;
  long status = 0;
  ResumableDownload download(*http_, file, target);
  const HttpResult result = download.Get(sim_->HttpUrl(kArchivePath), &ProgressLog::Record,
                                         &progress, {{"X-API-Token", "t"}}, &status);
  file.close();

  EXPECT_EQ(result, row.result);
  EXPECT_EQ(download.Resumes(), row.resumes);
  EXPECT_EQ(download.Restarts(), row.restarts);
  const auto requests = ArchiveRequests();
  std::vector<int> statuses;
  for (const auto& request : requests) statuses.push_back(request.status);
  EXPECT_EQ(statuses, row.statuses);
  ASSERT_FALSE(requests.empty());
  if (result == HttpResult::Ok) {
    EXPECT_EQ(status, requests.back().status);
  }
  EXPECT_FALSE(requests.front().HasHeader("Range"));
  int resume = 0;
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Header("X-API-Token"), "t") << "the caller's headers on every request";
    if (!requests[i].HasHeader("Range")) continue;  // the file from byte 0 again
    const std::string range = requests[i].Header("Range");
    ASSERT_EQ(range.rfind("bytes=", 0), 0u) << range;
    const std::uint64_t from = std::stoull(range.substr(6));
    if (row.evenCuts) {
      EXPECT_EQ(from, i * requests[0].bytesSent) << "request " << i;
    }
    ++resume;
    EXPECT_TRUE(log.Has(
        "info", fmt::format("Resuming chapter.zip at byte {} (attempt {}/3)", from, resume)));
    const std::string validator = requests[i].Header("If-Range");
    const std::string kind = validator.empty()             ? ""
                             : validator.ends_with(" GMT") ? "date"
                             : validator.front() == '"'    ? "etag"
                                                           : validator;
    EXPECT_EQ(kind, row.ifRange) << "If-Range: " << validator;
  }

  const std::string stored = fs::exists(target) ? ReadFile(target) : "";
  switch (row.content) {
    case ResumeCase::Content::Archive: {
      EXPECT_TRUE(stored == archive_) << stored.size() << " of " << archive_.size() << " bytes";
      ASSERT_FALSE(progress.calls.empty());
      EXPECT_EQ(progress.calls.back().downloaded, archive_.size());
      EXPECT_EQ(progress.calls.back().downloadTotal, archive_.size());
      std::uint64_t sent = 0;
      for (const auto& request : requests) sent += request.bytesSent;
      if (row.evenCuts) {
        EXPECT_EQ(sent, archive_.size()) << "no byte is fetched twice";
      }
      break;
    }
    case ResumeCase::Content::Changed: {
      std::string changed = archive_;
      for (char& byte : changed) byte = static_cast<char>(~byte);
      changed.append(static_cast<std::size_t>(row.extra), '\x01');
      EXPECT_TRUE(stored == changed) << stored.size() << " of " << changed.size() << " bytes";
      break;
    }
    case ResumeCase::Content::ErrorPage:
      EXPECT_NE(stored.find("<h1>404 Not Found</h1>"), std::string::npos);
      EXPECT_LT(stored.size(), 1000u) << "the earlier, longer answer was cut away";
      break;
    case ResumeCase::Content::Removed:
      EXPECT_FALSE(fs::exists(target));
      EXPECT_EQ(download.ErrorText(result),
                "the file changed on the server while it was downloaded");
      EXPECT_TRUE(log.HasFragment("error", "chapter.zip changed on the server"));
      break;
    case ResumeCase::Content::Whatever:
      break;
  }
}

using Content = ResumeCase::Content;
INSTANTIATE_TEST_SUITE_P(
    Cases, ResumeCasesTest,
    ::testing::Values(
        ResumeCase{"CutOnce",
                   [](std::uint64_t n) { return std::vector{Cut(n * 3 / 10, 1)}; },
                   HttpResult::Ok,
                   1,
                   {200, 206},
                   Content::Archive,
                   true},
        ResumeCase{"CutAt30And60And90Percent",
                   [](std::uint64_t n) { return std::vector{Cut(n * 3 / 10, 3)}; },
                   HttpResult::Ok,
                   3,
                   {200, 206, 206, 206},
                   Content::Archive,
                   true},
        ResumeCase{"ResetTwice",
                   [](std::uint64_t n) { return std::vector{Cut(n / 4, 2, "reset")}; },
                   HttpResult::Ok,
                   2,
                   {200, 206, 206},
                   Content::Archive},
        ResumeCase{"StalledPastTheIdleLimit",
                   [](std::uint64_t n) { return std::vector{Cut(n / 2, 1, "stall")}; },
                   HttpResult::Ok,
                   1,
                   {200, 206},
                   Content::Archive},
        ResumeCase{"CutFourTimesGivesUpAfterThree",
                   [](std::uint64_t n) { return std::vector{Cut(n / 8, 4)}; },
                   HttpResult::ReadFailed,
                   3,
                   {200, 206, 206, 206},
                   Content::Whatever,
                   true},
        ResumeCase{"ServerIgnoringTheRangeStartsAgain",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{Cut(n / 2, 1), R"({"mode": "ignore-range"})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 200},
                   Content::Archive,
                   false,
                   1},
        ResumeCase{"ErrorPageForTheRangeReplacesThePart",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{
                         Cut(n / 2, 1), R"({"mode": "404", "after": 1, "path_prefix": "/api/"})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 404},
                   Content::ErrorPage},
        ResumeCase{"NothingArrivedNothingResumed",
                   [](std::uint64_t) { return std::vector{Cut(0, 1)}; },
                   HttpResult::ReadFailed,
                   0,
                   {200},
                   Content::Whatever},
        ResumeCase{"PartStartingEarlierStartsTheFileAgain",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{
                         Cut(n / 2, 1), R"({"mode": "shift-range", "after": 1, "count": 1})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 206, 200},
                   Content::Archive,
                   false,
                   1},
        ResumeCase{"PartOfAnotherTotalStartsTheFileAgain",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{
                         Cut(n / 2, 1), R"({"mode": "other-total", "after": 1, "count": 1})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 206, 200},
                   Content::Archive,
                   false,
                   1},
        ResumeCase{"RefusedRangeStartsTheFileAgain",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{
                         Cut(n / 2, 1),
                         R"({"mode": "status", "status": 416, "after": 1, "count": 1})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 416, 200},
                   Content::Archive,
                   false,
                   1},
        ResumeCase{"ChangedFileWithETagComesWhole",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{R"({"mode": "validators", "send": "etag"})",
                                                     Cut(n / 2, 1),
                                                     R"({"mode": "changed", "after": 1})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 200},
                   Content::Changed,
                   false,
                   1},
        ResumeCase{"ChangedFileWithLastModifiedComesWhole",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{
                         R"({"mode": "validators", "send": "last-modified"})", Cut(n / 2, 1),
                         R"({"mode": "changed", "after": 1})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 200},
                   Content::Changed,
                   false,
                   1,
                   "date"},
        ResumeCase{"ChangedFileWithoutValidatorsIsSeenByItsSize",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{
                         R"({"mode": "validators", "send": ""})", Cut(n / 2, 1),
                         R"({"mode": "changed", "extra": 5000, "after": 1})"};
                   },
                   HttpResult::Ok,
                   1,
                   {200, 206, 200},
                   Content::Changed,
                   false,
                   1,
                   "",
                   5000},
        ResumeCase{"SecondMismatchFailsTheFile",
                   [](std::uint64_t n) {
                     return std::vector<std::string>{Cut(n / 2, 3), R"({"mode": "shift-range"})"};
                   },
                   HttpResult::ReadFailed,
                   2,
                   {200, 206, 200, 206},
                   Content::Removed,
                   false,
                   1},
        ResumeCase{"CutErrorPageIsNotResumed",
                   [](std::uint64_t) {
                     return std::vector<std::string>{R"({"mode": "500"})", Cut(20, 1)};
                   },
                   HttpResult::ReadFailed,
                   0,
                   {500},
                   Content::Whatever}),
    [](const ::testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.name); });

TEST_F(ResumableDownloadTest, CancelStopsTheTransferAndRemovesTheFile) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "slow", "chunk": 16384, "delay": 0.05})"));
  const fs::path target = dir_ / "chapter.zip";
  auto token = std::make_shared<CancelToken>();
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  HttpResult result = HttpResult::Ok;
  std::thread worker([&] {
    const CancelScope scope(token);
    std::ofstream file(target.string(), std::ios::binary | std::ios::trunc);
    result = GetResuming(
        *http_, sim_->HttpUrl(kArchivePath), file, target,
        [](void* flag, std::uint64_t, std::uint64_t done, std::uint64_t, std::uint64_t) {
          if (done > 0) static_cast<std::atomic<bool>*>(flag)->store(true);
        },
        &started, {}, nullptr);
    finished = true;
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto asked = std::chrono::steady_clock::now();
  token->Cancel();
  while (!finished && std::chrono::steady_clock::now() - asked < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto took = std::chrono::steady_clock::now() - asked;
  worker.join();
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_EQ(result, HttpResult::ReadFailed);
  EXPECT_EQ(http_->ErrorText(result), "Cancelled");
  EXPECT_FALSE(fs::exists(target)) << "a half-downloaded file is removed";
  EXPECT_EQ(ArchiveRequests().size(), 1u) << "a cancelled download is not resumed";

  // Nothing at all is sent for work cancelled before its request.
  ASSERT_TRUE(sim_->ClearRequests());
  const CancelScope scope(token);
  std::ostringstream body;
  EXPECT_EQ(Http().Get(sim_->HttpUrl(kArchivePath), &body), HttpResult::SendFailed);
  EXPECT_EQ(http_->ErrorText(HttpResult::SendFailed), "Cancelled");
  EXPECT_TRUE(sim_->Requests().empty());
}

}  // namespace
}  // namespace hopwell
