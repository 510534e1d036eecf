#pragma once

#include <string>

#include <QMainWindow>

#include "shell/StartupToken.h"

class QAction;
class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;

namespace hopwell {

class JobListView;
class SingleInstance;
class Updater;
class WindowPresenter;

// The client's frame: File and Help menus, the tray icon with its menu, the job list as
// the client area. Closing and quitting go through RequestQuit; minimising hides the
// window when a tray icon is there to bring it back.
//
// Action object names (for tests and the screenshot script): actionPreferences,
// actionExit, actionSupport, actionOpenLocalStorage, actionOpenResources, actionAbout,
// actionVerify (the hidden Ctrl+Shift+T), actionTrayAbout, actionTrayQuit.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `updater` may be null (tests, screenshots): the preferences item is then disabled.
  explicit MainWindow(Updater* updater = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  JobListView* JobList() const { return jobList_; }
  QSystemTrayIcon* TrayIcon() const { return tray_; }

  // Watches the running instance's relay socket and handles every command it brings.
  void WatchRelays(SingleInstance& instance);
  // Shows the window and asks for activation with the launch's startup token.
  void Present(const StartupToken& token);
  // A relayed command: show, raise and activate the window (with the relaying launch's
  // startup token), then submit the command (an empty one only brings the window to the
  // front).
  void HandleRelayedCommand(const std::string& command, const StartupToken& token = {});
  // The tray icon's activation: the window comes to the user's current workspace.
  void ShowFromTray();
  // True when minimising hides the window (a tray icon is really shown).
  bool HidesOnMinimise() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildTray();
  void EnsureTrayShown();
  void ReadRelays();

  Updater* updater_;
  JobListView* jobList_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QTimer* trayWatch_ = nullptr;
  SingleInstance* instance_ = nullptr;
  QSocketNotifier* relayNotifier_ = nullptr;
  WindowPresenter* presenter_ = nullptr;
};

}  // namespace hopwell
