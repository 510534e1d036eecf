#include "shell/gui/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <boost/filesystem/operations.hpp>

#include "base/FrontEnd.h"
#include "intake/CommandIntake.h"
#include "resources/StringTable.h"
#include "shell/QuitControl.h"
#include "shell/ShellLinks.h"
#include "shell/SingleInstance.h"
#include "shell/gui/ClientIcon.h"
#include "shell/gui/Dialogs.h"
#include "shell/gui/JobListView.h"
#include "shell/gui/PreferencesDialog.h"
#include "shell/gui/WindowPresenter.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

constexpr int kTrayTipLimit = 128;
constexpr int kTrayWatchMilliseconds = 3000;

QAction* NewAction(QObject* owner, const char* text, const char* name) {
  auto* action = new QAction(QString::fromUtf8(text), owner);
  action->setObjectName(QString::fromUtf8(name));
  return action;
}

void ExploreCreated(const boost::filesystem::path& folder) {
  // The file manager cannot show a folder that is not there yet.
  boost::system::error_code ignored;
  boost::filesystem::create_directories(folder, ignored);
  FrontEnd()->ExploreFolder(folder);
}

}  // namespace

MainWindow::MainWindow(Updater* updater, QWidget* parent) : QMainWindow(parent), updater_(updater) {
  setWindowTitle(QString::fromStdString(LoadString(kIdsAppTitle)));
  setWindowIcon(ClientIcon());
  resize(485, 400);

  jobList_ = new JobListView(this);
  setCentralWidget(jobList_);
  jobList_->viewport()->installEventFilter(this);
  presenter_ = new WindowPresenter(this);

  BuildMenus();
  BuildTray();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* preferences = NewAction(this, "Preferences...", "actionPreferences");
  preferences->setEnabled(updater_ != nullptr);
  connect(preferences, &QAction::triggered, this, [this] {
    if (updater_ != nullptr) ShowPreferencesDialog(*updater_, this);
  });
  file->addAction(preferences);
  file->addSeparator();
  QAction* exit = NewAction(this, "E&xit", "actionExit");
  connect(exit, &QAction::triggered, this, [] { RequestQuit(); });
  file->addAction(exit);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* support = NewAction(this, "Kelvory Support", "actionSupport");
  connect(support, &QAction::triggered, this, [] { FrontEnd()->OpenUrl(kSupportPageUrl); });
  help->addAction(support);
  QAction* storage = NewAction(this, "Open Local Storage", "actionOpenLocalStorage");
  connect(storage, &QAction::triggered, this, [] { ExploreCreated(TempRoot()); });
  help->addAction(storage);
  QAction* resources = NewAction(this, "Open Resources Folder", "actionOpenResources");
  connect(resources, &QAction::triggered, this, [] { ExploreCreated(AppDataRoot()); });
  help->addAction(resources);
  help->addSeparator();
  QAction* about = NewAction(this, "&About Kelvory Hopwell", "actionAbout");
  connect(about, &QAction::triggered, this, [this] { ShowAboutDialog(this); });
  help->addAction(about);

  // On no menu: a quick installation check for support calls.
  QAction* verify = NewAction(this, "Verify installation", "actionVerify");
  verify->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
  verify->setShortcutContext(Qt::WindowShortcut);
  connect(verify, &QAction::triggered, this, [] { SubmitCommand("kelv:test"); });
  addAction(verify);
}

void MainWindow::BuildTray() {
  trayMenu_ = new QMenu(this);
  QAction* about = NewAction(trayMenu_, "About...", "actionTrayAbout");
  connect(about, &QAction::triggered, this, [this] { ShowAboutDialog(this); });
  trayMenu_->addAction(about);
  QAction* quit = NewAction(trayMenu_, "Quit", "actionTrayQuit");
  connect(quit, &QAction::triggered, this, [] { RequestQuit(); });
  trayMenu_->addAction(quit);

  tray_ = new QSystemTrayIcon(ClientIcon(), this);
  tray_->setToolTip(windowTitle().left(kTrayTipLimit));
  tray_->setContextMenu(trayMenu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) ShowFromTray();
  });
  EnsureTrayShown();

  // The tray host may start after the client or restart later: keep the icon present.
  trayWatch_ = new QTimer(this);
  trayWatch_->setInterval(kTrayWatchMilliseconds);
  connect(trayWatch_, &QTimer::timeout, this, &MainWindow::EnsureTrayShown);
  trayWatch_->start();
}

void MainWindow::EnsureTrayShown() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  if (!tray_->isVisible()) tray_->show();
}

bool MainWindow::HidesOnMinimise() const {
  // Only hide if the tray icon is really there, otherwise the window would be gone for good.
  return tray_ != nullptr && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::Present(const StartupToken& token) {
  presenter_->Present(token);
}

void MainWindow::ShowFromTray() {
  presenter_->PresentAnew();
}

void MainWindow::WatchRelays(SingleInstance& instance) {
  instance_ = &instance;
  delete relayNotifier_;
  relayNotifier_ = nullptr;
  if (instance.ListenDescriptor() < 0) return;
  relayNotifier_ = new QSocketNotifier(instance.ListenDescriptor(), QSocketNotifier::Read, this);
  connect(relayNotifier_, &QSocketNotifier::activated, this, &MainWindow::ReadRelays);
}

void MainWindow::ReadRelays() {
  if (instance_ == nullptr) return;
  for (const auto& relayed : instance_->TakeRelays()) {
    HandleRelayedCommand(relayed.command, relayed.token);
  }
}

void MainWindow::HandleRelayedCommand(const std::string& command, const StartupToken& token) {
  Present(token);
  // An empty relay is a launch without a command: coming to the front is all it asks.
  if (!command.empty()) SubmitCommand(command);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window is never closed on its own: quitting decides about the whole client.
  event->ignore();
  RequestQuit();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && HidesOnMinimise()) {
    // Hidden after the state change has been processed; the tray brings it back.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The empty part of the client area drags the window, like its caption.
  if (watched == jobList_->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* press = static_cast<QMouseEvent*>(event);
    if (press->button() == Qt::LeftButton &&
        !jobList_->indexAt(press->position().toPoint()).isValid() && windowHandle() != nullptr &&
        windowHandle()->startSystemMove()) {
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace hopwell
