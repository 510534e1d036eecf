#pragma once

#include <atomic>

#include <QObject>
#include <boost/filesystem/path.hpp>

#include "base/FrontEnd.h"
#include "base/Logging.h"

class QTimer;
class QUrl;

namespace hopwell {

class JobEndNotifier;
class MainWindow;

// The desktop front end: jobs go to the main window's job list, dialogs are Qt dialogs.
// Methods that may run on a command thread (JobChanged, the message dialogs, the proxy
// question) never touch widgets there: they cross to the user-interface thread with a
// queued call.
class QtFrontEnd final : public QObject, public IFrontEnd {
  Q_OBJECT

 public:
  explicit QtFrontEnd(MainWindow* window);
  ~QtFrontEnd() override;

  void JobAdded(JobStatus& job) override;
  void JobChanged(JobStatus& job) override;
  void ShowMessageDialog(const std::string& title, const std::string& text) override;
  void ShowApplicationMissing(const std::string& text) override;
  void OpenUrl(const std::string& url) override;
  void ExploreFolder(const boost::filesystem::path& folder) override;
  bool ConfirmQuit() override;
  ProxyAnswer AskProxyCredentials(const std::string& url, ProxyCredentials& credentials) override;

  // Test hook: when set, the job list is written to `path` shortly after every change.
  void SetJobDumpPath(const boost::filesystem::path& path);

 private:
  void ScheduleDump();
  void NoticeEnd(JobStatus& job);
  // Opens `target` with the desktop's handler (OpenWithDesktop, on a thread of its own); when
  // none starts, logs `failure` and shows it.
  void OpenOrSaySo(const QUrl& target, const std::string& failure);
  void WriteDump();

  LogSource log_;
  MainWindow* window_;
  boost::filesystem::path dumpPath_;
  QTimer* dumpTimer_ = nullptr;
  JobEndNotifier* notifier_ = nullptr;
  std::atomic<bool> dumpPending_{false};
};

}  // namespace hopwell
