#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"

namespace hopwell {

// One entry of a Sparkle-style appcast.
struct AppcastItem {
  std::string title;
  std::string version;         // sparkle:version (machine version, e.g. 1.8.0.0)
  std::string displayVersion;  // sparkle:shortVersionString, or version
  std::string downloadUrl;     // enclosure url
  std::string notesUrl;        // sparkle:releaseNotesLink, may be empty
};

struct UpdateCheckResult {
  enum class Outcome { UpToDate, UpdateAvailable, Failed };
  Outcome outcome = Outcome::Failed;
  AppcastItem item;   // the newest item when UpdateAvailable
  std::string error;  // when Failed
};

// The client's update checker: reads an appcast, compares the newest item with the running
// version, keeps "automatic checks" and "last check time" in a settings file under
// AppDataRoot. Background checks run on a thread of their own; results are handed to the
// result handler on that thread (the UI layer crosses to its own thread).
class Updater {
 public:
  // Fetches `url` into `body`; false with `error` set on failure.
  using Fetcher =
      std::function<bool(const std::string& url, std::string& body, std::string& error)>;
  // 1 when the client may be shut down now, 0 otherwise.
  using CanShutdownCallback = int (*)();
  // `userAsked`: the check came from CheckUpdateWithUi (show "up to date" and failures too).
  using ResultHandler = std::function<void(const UpdateCheckResult& result, bool userAsked)>;

  static constexpr std::int64_t kCheckIntervalSeconds = 24 * 60 * 60;

  // `fetcher` empty: an IHttpHelper of the client's own. `settingsFile` empty:
  // AppDataRoot() / "UpdateSettings.xml".
  explicit Updater(Fetcher fetcher = {}, boost::filesystem::path settingsFile = {});
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  void SetAppcastUrl(const std::string& url);
  void SetCanShutdownCallback(CanShutdownCallback callback);
  void SetResultHandler(ResultHandler handler);
  void SetCurrentVersion(const std::string& version);

  // Starts the checker: a background check when automatic checks are on and the last one
  // is older than kCheckIntervalSeconds (or never ran).
  void Init();
  // Stops the checker; a running check is abandoned and its result discarded.
  void Cleanup();

  bool GetAutomaticCheckForUpdates() const;
  void SetAutomaticCheckForUpdates(bool on);
  // Seconds since the epoch of the last check, -1 when none ever ran.
  std::int64_t GetLastCheckTime() const;

  // A check in the background whose result the handler shows whatever it is.
  void CheckUpdateWithUi();

  // The shutdown-permission callback's answer (1 when none is set).
  int CanShutdown() const;

  // One check on the calling thread: fetch, parse, compare; records the check time.
  UpdateCheckResult CheckNow();

  // The newest item of an appcast (items for another OS are skipped); nullopt with
  // `error` set when the document cannot be read or has no usable item.
  static std::optional<AppcastItem> ParseAppcast(const std::string& xml, std::string& error);
  // <0, 0, >0 like strcmp, comparing dot-separated numeric parts ("1.10" > "1.9",
  // "1.7.1" == "1.7.1.0").
  static int CompareVersions(const std::string& a, const std::string& b);

 private:
  struct Worker;

  void StartBackgroundCheck(bool userAsked);

  mutable LogSource log_;
  Fetcher fetcher_;
  boost::filesystem::path settingsFile_;
  mutable std::mutex lock_;  // guards everything below and the settings file
  std::string appcastUrl_;
  std::string currentVersion_;
  CanShutdownCallback canShutdown_ = nullptr;
  ResultHandler handler_;
  std::shared_ptr<Worker> worker_;
  bool initialised_ = false;
};

}  // namespace hopwell
