#include "shell/Updater.h"

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/CaseName.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "storage/DurableFile.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using Outcome = UpdateCheckResult::Outcome;

std::string Appcast(const std::string& items,
                    const std::string& ns =
                        "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" " + ns +
         "><channel><title>Hopwell</title>" + items + "</channel></rss>";
}

std::string Item(const std::string& version,
                 const std::string& url = "https://apps.example/hopwell.deb",
                 const std::string& extra = "") {
  return "<item><title>Version " + version + "</title><enclosure url=\"" + url +
         "\" sparkle:version=\"" + version + "\" length=\"10\" type=\"application/octet-stream\" " +
         extra + "/></item>";
}

struct ParseCase {
  const char* name;
  std::string xml;
  bool found;
  const char* version;
};

class AppcastParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(AppcastParseTable, FindsTheNewestUsableItem) {
  std::string error;
  const std::optional<AppcastItem> item = Updater::ParseAppcast(GetParam().xml, error);
  ASSERT_EQ(item.has_value(), GetParam().found) << error;
  if (item) {
    EXPECT_EQ(item->version, GetParam().version);
    EXPECT_TRUE(error.empty());
  } else {
    EXPECT_FALSE(error.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, AppcastParseTable,
    ::testing::Values(
        ParseCase{"single", Appcast(Item("1.8.0.0")), true, "1.8.0.0"},
        ParseCase{"newestNotFirst", Appcast(Item("1.7.9") + Item("1.10.0") + Item("1.9.5")), true,
                  "1.10.0"},
        ParseCase{"otherSystemSkipped",
                  Appcast(Item("2.0.0", "https://a/x.exe", "sparkle:os=\"windows\"") +
                          Item("1.8.0", "https://a/x.deb", "sparkle:os=\"linux\"")),
                  true, "1.8.0"},
        ParseCase{"versionAsElement",
                  Appcast("<item><title>t</title><sparkle:version>1.9.0</sparkle:version>"
                          "<enclosure url=\"https://a/x.deb\"/></item>"),
                  true, "1.9.0"},
        ParseCase{"ownPrefix",
                  Appcast("<item><enclosure url=\"https://a/x.deb\" sp:version=\"3.1\"/></item>",
                          "xmlns:sp=\"http://www.andymatuschak.org/xml-namespaces/sparkle\""),
                  true, "3.1"},
        ParseCase{"nonWebDownloadSkipped",
                  Appcast(Item("9.0", "javascript:alert(1)") + Item("1.8", "file:///etc/passwd")),
                  false, ""},
        ParseCase{"noVersion", Appcast("<item><enclosure url=\"https://a/x.deb\"/></item>"), false,
                  ""},
        ParseCase{"noItems", Appcast(""), false, ""},
        ParseCase{"notXml", "<rss><channel><item>", false, ""}, ParseCase{"empty", "", false, ""},
        ParseCase{"htmlPage", "<html><body>Not found</body></html>", false, ""}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(AppcastParse, KeepsTitleDisplayVersionAndWebNotesOnly) {
  std::string error;
  const auto item = Updater::ParseAppcast(
      Appcast("<item><title>Hopwell 1.8</title>"
              "<sparkle:releaseNotesLink>https://apps.example/notes.html</sparkle:releaseNotesLink>"
              "<enclosure url=\"https://apps.example/h.deb\" sparkle:version=\"1.8.0.0\" "
              "sparkle:shortVersionString=\"1.8\"/></item>"),
      error);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->title, "Hopwell 1.8");
  EXPECT_EQ(item->displayVersion, "1.8");
  EXPECT_EQ(item->downloadUrl, "https://apps.example/h.deb");
  EXPECT_EQ(item->notesUrl, "https://apps.example/notes.html");

  const auto bare = Updater::ParseAppcast(
      Appcast("<item><sparkle:releaseNotesLink>file:///x</sparkle:releaseNotesLink>" +
              std::string("<enclosure url=\"https://a/h.deb\" sparkle:version=\"2\"/></item>")),
      error);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->displayVersion, "2");
  EXPECT_EQ(bare->notesUrl, "");
}

struct VersionCase {
  const char* a;
  const char* b;
  int sign;
};

class VersionCompareTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionCompareTable, ComparesNumerically) {
  const int result = Updater::CompareVersions(GetParam().a, GetParam().b);
  EXPECT_EQ((result > 0) - (result < 0), GetParam().sign) << GetParam().a << " vs " << GetParam().b;
  const int reverse = Updater::CompareVersions(GetParam().b, GetParam().a);
  EXPECT_EQ((reverse > 0) - (reverse < 0), -GetParam().sign);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionCompareTable,
    ::testing::Values(VersionCase{"1.7.1", "1.7.1.0", 0}, VersionCase{"1.10", "1.9", 1},
                      VersionCase{"1.7.1.1", "1.7.1", 1}, VersionCase{"2", "1.99.99", 1},
                      VersionCase{"1.8.0-beta", "1.8.0", 0}, VersionCase{"", "0", 0},
                      VersionCase{"0.9", "1", -1}, VersionCase{"99999999999999999999999", "1", 1}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
      return testing::CaseName(std::string("v") + info.param.a + " vs " + info.param.b);
    });

// A feed served from memory, counting its requests.
struct FakeFeed {
  std::mutex lock;
  std::string body;
  bool fail = false;
  std::atomic<int> requests{0};
  std::string lastUrl;

  Updater::Fetcher Fetcher() {
    return [this](const std::string& url, std::string& out, std::string& error) {
      std::lock_guard guard(lock);
      ++requests;
      lastUrl = url;
      if (fail) {
        error = "transfer failed (8)";
        return false;
      }
      out = body;
      return true;
    };
  }
};

// Collects what the result handler is told, on whatever thread.
struct HandlerProbe {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::pair<UpdateCheckResult, bool>> calls;

  Updater::ResultHandler Handler() {
    return [this](const UpdateCheckResult& result, bool userAsked) {
      // Notified under the lock: once the waiter sees the call, the probe may go at once.
      std::lock_guard guard(lock);
      calls.emplace_back(result, userAsked);
      changed.notify_all();
    };
  }
  bool WaitForCalls(std::size_t count) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(5), [&] { return calls.size() >= count; });
  }
};

class UpdaterTest : public ::testing::Test {
 protected:
  fs::path SettingsFile() const { return dir_ / "Kelv" / "UpdateSettings.xml"; }
  std::unique_ptr<Updater> Make() {
    auto updater = std::make_unique<Updater>(feed_.Fetcher(), SettingsFile());
    updater->SetAppcastUrl("https://127.0.0.1:18443/apps/hopwell/appcast.xml");
    updater->SetCurrentVersion("1.7.1.0");
    return updater;
  }
  testing::TempDir dir_;
  FakeFeed feed_;
};

TEST_F(UpdaterTest, DefaultsWithoutSettings) {
  auto updater = Make();
  EXPECT_TRUE(updater->GetAutomaticCheckForUpdates());
  EXPECT_EQ(updater->GetLastCheckTime(), -1);
  EXPECT_EQ(updater->CanShutdown(), 1);
}

TEST_F(UpdaterTest, CheckComparesWithTheRunningVersionAndRecordsTheTime) {
  auto updater = Make();
  feed_.body = Appcast(Item("1.7.1"));
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  UpdateCheckResult result = updater->CheckNow();
  EXPECT_EQ(result.outcome, Outcome::UpToDate);
  EXPECT_EQ(feed_.lastUrl, "https://127.0.0.1:18443/apps/hopwell/appcast.xml");
  const std::int64_t last = updater->GetLastCheckTime();
  EXPECT_GE(last, before);
  EXPECT_LE(last, static_cast<std::int64_t>(std::time(nullptr)));

  feed_.body = Appcast(Item("1.7.0") + Item("1.8.2.0"));
  result = updater->CheckNow();
  EXPECT_EQ(result.outcome, Outcome::UpdateAvailable);
  EXPECT_EQ(result.item.version, "1.8.2.0");
}

TEST_F(UpdaterTest, FailedChecksKeepTheLastCheckTime) {
  testing::LogCapture capture;
  auto updater = Make();
  feed_.fail = true;
  UpdateCheckResult result = updater->CheckNow();
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_EQ(result.error, "transfer failed (8)");
  EXPECT_EQ(updater->GetLastCheckTime(), -1);

  feed_.fail = false;
  feed_.body = "<html>proxy login page</html>";
  result = updater->CheckNow();
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_EQ(updater->GetLastCheckTime(), -1);
  EXPECT_TRUE(capture.HasFragment("warning", "Update check failed"));
}

TEST_F(UpdaterTest, SettingsSurviveTheUpdater) {
  {
    auto updater = Make();
    updater->SetAutomaticCheckForUpdates(false);
    feed_.body = Appcast(Item("1.7.1"));
    updater->CheckNow();
  }
  auto again = Make();
  EXPECT_FALSE(again->GetAutomaticCheckForUpdates());
  EXPECT_NE(again->GetLastCheckTime(), -1);
  again->SetAutomaticCheckForUpdates(true);
  EXPECT_TRUE(Make()->GetAutomaticCheckForUpdates());
  EXPECT_NE(Make()->GetLastCheckTime(), -1) << "changing one setting keeps the other";
  EXPECT_FALSE(fs::exists(DurableTemporaryPath(SettingsFile())));
}

TEST_F(UpdaterTest, MalformedSettingsReadAsDefaults) {
  testing::LogCapture capture;
  fs::create_directories(SettingsFile().parent_path());
  testing::WriteFile(SettingsFile(), "<UpdateSettings><AutomaticCheck>0</Automatic");
  auto updater = Make();
  EXPECT_TRUE(updater->GetAutomaticCheckForUpdates());
  EXPECT_EQ(updater->GetLastCheckTime(), -1);
  EXPECT_TRUE(capture.HasFragment("warning", "unreadable"));
  // Writing a setting replaces the broken file.
  updater->SetAutomaticCheckForUpdates(false);
  EXPECT_FALSE(Make()->GetAutomaticCheckForUpdates());
}

TEST_F(UpdaterTest, InitChecksInTheBackgroundOnlyWhenDue) {
  feed_.body = Appcast(Item("1.9.0"));
  HandlerProbe probe;
  {
    auto updater = Make();
    updater->SetResultHandler(probe.Handler());
    updater->Init();
    ASSERT_TRUE(probe.WaitForCalls(1));
    updater->Cleanup();
  }
  EXPECT_EQ(feed_.requests, 1);
  EXPECT_EQ(probe.calls[0].first.outcome, Outcome::UpdateAvailable);
  EXPECT_FALSE(probe.calls[0].second) << "an automatic check, not asked for";

  // Checked just now: the next start does not check again.
  auto updater = Make();
  updater->SetResultHandler(probe.Handler());
  updater->Init();
  updater->Cleanup();
  EXPECT_EQ(feed_.requests, 1);
}

TEST_F(UpdaterTest, InitDoesNotCheckWhenAutomaticChecksAreOff) {
  auto updater = Make();
  updater->SetAutomaticCheckForUpdates(false);
  updater->Init();
  updater->Cleanup();
  EXPECT_EQ(feed_.requests, 0);
}

TEST_F(UpdaterTest, CheckWithUiReportsEveryOutcome) {
  auto updater = Make();
  HandlerProbe probe;
  updater->SetResultHandler(probe.Handler());
  feed_.fail = true;
  updater->CheckUpdateWithUi();
  ASSERT_TRUE(probe.WaitForCalls(1));
  EXPECT_EQ(probe.calls[0].first.outcome, Outcome::Failed);
  EXPECT_TRUE(probe.calls[0].second);
  feed_.fail = false;
  feed_.body = Appcast(Item("1.7.1.0"));
  updater->CheckUpdateWithUi();
  ASSERT_TRUE(probe.WaitForCalls(2));
  EXPECT_EQ(probe.calls[1].first.outcome, Outcome::UpToDate);
  EXPECT_TRUE(probe.calls[1].second);
}

}  // namespace
}  // namespace hopwell
