#include "shell/Updater.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <sstream>
#include <thread>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <pugixml.hpp>

#include "Deployment.h"
#include "Version.h"
#include "net/IHttpHelper.h"
#include "storage/DurableFile.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

const char* const kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

// The settings file is shared by the updater and its background check.
std::mutex settingsFileLock;

bool HttpFetch(const std::string& url, std::string& body, std::string& error) {
  HttpHelperPtr http = CreateHttpHelper();
  std::ostringstream out;
  long status = 0;
  const HttpResult result = http->Get(url, &out, nullptr, nullptr, {}, {}, &status);
  if (result != HttpResult::Ok) {
    error = "transfer failed (" + std::to_string(ToInt(result)) + ")";
    const std::string detail = http->ErrorText(result);
    if (!detail.empty()) error += ": " + detail;
    return false;
  }
  if (status != 200) {
    error = "the update feed answered with status " + std::to_string(status);
    return false;
  }
  body = out.str();
  return true;
}

std::uint64_t LeadingNumber(const std::string& part) {
  std::uint64_t value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') break;
    if (value > (UINT64_MAX - 9) / 10) break;  // absurdly long: stop growing
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::vector<std::string> SplitDots(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (c == '.') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  return parts;
}

std::string SparklePrefix(const pugi::xml_node& root) {
  for (const pugi::xml_attribute& attribute : root.attributes()) {
    const std::string name = attribute.name();
    if (boost::starts_with(name, "xmlns:") && std::string(attribute.value()) == kSparkleNamespace) {
      return name.substr(6) + ":";
    }
  }
  return "sparkle:";
}

// The attribute of the enclosure, else the element of the same name inside the item.
std::string SparkleValue(const pugi::xml_node& item, const pugi::xml_node& enclosure,
                         const std::string& name) {
  const std::string fromAttribute = enclosure.attribute(name.c_str()).value();
  if (!fromAttribute.empty()) return fromAttribute;
  return item.child(name.c_str()).text().get();
}

bool IsWebUrl(const std::string& url) {
  return boost::istarts_with(url, "https://") || boost::istarts_with(url, "http://");
}

struct Settings {
  bool automatic = true;
  std::int64_t lastCheck = -1;
};

Settings LoadSettings(const fs::path& file, LogSource& log) {
  Settings settings;
  std::lock_guard lock(settingsFileLock);
  boost::system::error_code error;
  if (!fs::exists(file, error)) return settings;
  try {
    pt::ptree tree;
    pt::read_xml(file.string(), tree);
    settings.automatic = tree.get<int>("UpdateSettings.AutomaticCheck", 1) != 0;
    settings.lastCheck = tree.get<std::int64_t>("UpdateSettings.LastCheckTime", -1);
  } catch (const std::exception& e) {
    HW_LOG(log, warning) << "  Update settings " << file << " unreadable: " << e.what();
    settings = Settings{};
  }
  return settings;
}

void SaveSettings(const fs::path& file, const Settings& settings, LogSource& log) {
  std::lock_guard lock(settingsFileLock);
  pt::ptree tree;
  tree.put("UpdateSettings.AutomaticCheck", settings.automatic ? 1 : 0);
  tree.put("UpdateSettings.LastCheckTime", settings.lastCheck);
  // Replaced whole and synced, so a crash or a power cut never leaves half a file.
  try {
    fs::create_directories(file.parent_path());
    std::ostringstream text;
    pt::write_xml(text, tree);
    boost::system::error_code error;
    if (!ReplaceFileDurably(file, text.str(), error)) {
      HW_LOG(log, warning) << "  Update settings " << file << " not written: " << error.message();
    }
  } catch (const std::exception& e) {
    HW_LOG(log, warning) << "  Update settings " << file << " not written: " << e.what();
  }
}

// One check: fetch, parse, compare; records the time of a check that got an answer.
UpdateCheckResult RunCheck(const Updater::Fetcher& fetcher, const std::string& url,
                           const std::string& version, const fs::path& settingsFile,
                           LogSource& log) {
  UpdateCheckResult result;
  std::string body;
  if (!fetcher(url, body, result.error)) {
    HW_LOG(log, warning) << "  Update check failed: " << result.error;
    return result;
  }
  std::optional<AppcastItem> item = Updater::ParseAppcast(body, result.error);
  if (!item) {
    HW_LOG(log, warning) << "  Update check failed: " << result.error;
    return result;
  }
  Settings settings = LoadSettings(settingsFile, log);
  settings.lastCheck = static_cast<std::int64_t>(std::time(nullptr));
  SaveSettings(settingsFile, settings, log);
  result.item = *item;
  result.outcome = Updater::CompareVersions(item->version, version) > 0
                       ? UpdateCheckResult::Outcome::UpdateAvailable
                       : UpdateCheckResult::Outcome::UpToDate;
  HW_LOG(log, info) << "  Update check: newest version " << item->version
                    << (result.outcome == UpdateCheckResult::Outcome::UpdateAvailable
                            ? " is available"
                            : ", this one is up to date");
  return result;
}

}  // namespace

struct Updater::Worker {
  LogSource log_;
  std::mutex lock;
  std::condition_variable finishedChanged;
  bool finished = false;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> userAsked{false};
  std::thread thread;
};

Updater::Updater(Fetcher fetcher, fs::path settingsFile)
    : fetcher_(fetcher ? std::move(fetcher) : Fetcher(&HttpFetch)),
      settingsFile_(settingsFile.empty() ? AppDataRoot() / "UpdateSettings.xml"
                                         : std::move(settingsFile)),
      appcastUrl_(deployment::kAppcastUrl),
      currentVersion_(kFileVersion) {}

Updater::~Updater() {
  Cleanup();
}

void Updater::SetAppcastUrl(const std::string& url) {
  std::lock_guard lock(lock_);
  appcastUrl_ = url;
}

void Updater::SetCanShutdownCallback(CanShutdownCallback callback) {
  std::lock_guard lock(lock_);
  canShutdown_ = callback;
}

void Updater::SetResultHandler(ResultHandler handler) {
  std::lock_guard lock(lock_);
  handler_ = std::move(handler);
}

void Updater::SetCurrentVersion(const std::string& version) {
  std::lock_guard lock(lock_);
  currentVersion_ = version;
}

int Updater::CanShutdown() const {
  CanShutdownCallback callback;
  {
    std::lock_guard lock(lock_);
    callback = canShutdown_;
  }
  return callback ? callback() : 1;
}

bool Updater::GetAutomaticCheckForUpdates() const {
  return LoadSettings(settingsFile_, log_).automatic;
}

void Updater::SetAutomaticCheckForUpdates(bool on) {
  Settings settings = LoadSettings(settingsFile_, log_);
  settings.automatic = on;
  SaveSettings(settingsFile_, settings, log_);
}

std::int64_t Updater::GetLastCheckTime() const {
  return LoadSettings(settingsFile_, log_).lastCheck;
}

std::optional<AppcastItem> Updater::ParseAppcast(const std::string& xml, std::string& error) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    error = std::string("the update feed is not XML: ") + parsed.description();
    return std::nullopt;
  }
  const pugi::xml_node rss = document.child("rss");
  const std::string prefix = SparklePrefix(rss);
  std::optional<AppcastItem> newest;
  for (const pugi::xml_node& item : rss.child("channel").children("item")) {
    const pugi::xml_node enclosure = item.child("enclosure");
    const std::string os = enclosure.attribute((prefix + "os").c_str()).value();
    if (!os.empty() && os != "linux") continue;
    AppcastItem candidate;
    candidate.title = item.child("title").text().get();
    candidate.version = SparkleValue(item, enclosure, prefix + "version");
    candidate.displayVersion = SparkleValue(item, enclosure, prefix + "shortVersionString");
    if (candidate.displayVersion.empty()) candidate.displayVersion = candidate.version;
    candidate.downloadUrl = enclosure.attribute("url").value();
    candidate.notesUrl = item.child((prefix + "releaseNotesLink").c_str()).text().get();
    if (!IsWebUrl(candidate.notesUrl)) candidate.notesUrl.clear();
    // Only web addresses are ever handed to the browser.
    if (candidate.version.empty() || !IsWebUrl(candidate.downloadUrl)) continue;
    if (!newest || CompareVersions(candidate.version, newest->version) > 0) newest = candidate;
  }
  if (!newest) error = "the update feed lists no version for this system";
  return newest;
}

int Updater::CompareVersions(const std::string& a, const std::string& b) {
  const std::vector<std::string> left = SplitDots(a);
  const std::vector<std::string> right = SplitDots(b);
  const std::size_t count = std::max(left.size(), right.size());
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t x = i < left.size() ? LeadingNumber(left[i]) : 0;
    const std::uint64_t y = i < right.size() ? LeadingNumber(right[i]) : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

UpdateCheckResult Updater::CheckNow() {
  std::string url;
  std::string version;
  {
    std::lock_guard lock(lock_);
    url = appcastUrl_;
    version = currentVersion_;
  }
  return RunCheck(fetcher_, url, version, settingsFile_, log_);
}

void Updater::StartBackgroundCheck(bool userAsked) {
  std::lock_guard lock(lock_);
  if (worker_) {
    std::unique_lock workerLock(worker_->lock);
    if (!worker_->finished) {
      // One check at a time; the running one reports to the user as well.
      if (userAsked) worker_->userAsked = true;
      return;
    }
    workerLock.unlock();
    if (worker_->thread.joinable()) worker_->thread.join();
  }
  auto worker = std::make_shared<Worker>();
  worker->userAsked = userAsked;
  // The thread works on copies and keeps the worker alive on its own, so Cleanup may let
  // go of a check that hangs in the network without the updater being touched later.
  worker->thread = std::thread([worker, handler = handler_, fetcher = fetcher_, url = appcastUrl_,
                                version = currentVersion_, file = settingsFile_] {
    UpdateCheckResult result;
    if (!worker->cancelled) result = RunCheck(fetcher, url, version, file, worker->log_);
    // Finished before the result is handed on: a check asked for from here on starts
    // afresh instead of joining this one, whose result is already on its way.
    bool userAsked;
    {
      std::lock_guard finishedLock(worker->lock);
      worker->finished = true;
      userAsked = worker->userAsked;
    }
    worker->finishedChanged.notify_all();
    if (!worker->cancelled && handler) handler(result, userAsked);
  });
  worker_ = worker;
}

void Updater::Init() {
  {
    std::lock_guard lock(lock_);
    if (initialised_) return;
    initialised_ = true;
  }
  const Settings settings = LoadSettings(settingsFile_, log_);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const bool due = settings.lastCheck < 0 || now - settings.lastCheck >= kCheckIntervalSeconds ||
                   now < settings.lastCheck;  // a clock set back
  if (settings.automatic && due) StartBackgroundCheck(false);
}

void Updater::CheckUpdateWithUi() {
  StartBackgroundCheck(true);
}

void Updater::Cleanup() {
  std::shared_ptr<Worker> worker;
  {
    std::lock_guard lock(lock_);
    worker = std::move(worker_);
    initialised_ = false;
  }
  if (!worker) return;
  worker->cancelled = true;
  std::unique_lock workerLock(worker->lock);
  const bool finished = worker->finishedChanged.wait_for(workerLock, std::chrono::seconds(5),
                                                         [&] { return worker->finished; });
  workerLock.unlock();
  if (finished) {
    worker->thread.join();
  } else {
    HW_LOG(log_, warning) << "  Update check still running at shutdown; left behind";
    worker->thread.detach();
  }
}

}  // namespace hopwell
