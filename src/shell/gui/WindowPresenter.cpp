#include "shell/gui/WindowPresenter.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "shell/gui/X11StartupActivation.h"

namespace hopwell {
namespace {

constexpr int kExposeWaitMilliseconds = 2000;

}  // namespace

WindowPresenter::WindowPresenter(QWidget* window) : QObject(window), window_(window) {}

void WindowPresenter::Present(const StartupToken& token) {
  const bool mapped = window_->isVisible() && !window_->isMinimized();
  if (window_->isMinimized()) {
    window_->showNormal();
  } else {
    window_->show();
  }
  window_->raise();
  pending_ = token;
  if (mapped) {
    // On screen already, or on a workspace out of sight (where Qt counts it as not exposed,
    // since no frame is asked for there): asked for at once.
    QTimer::singleShot(0, this, &WindowPresenter::Activate);
  } else {
    ActivateWhenExposed();
  }
}

void WindowPresenter::PresentAnew() {
  if (window_->isVisible() && !window_->isMinimized() && !window_->isActiveWindow()) {
    // The window may be on another workspace: a window mapped again appears on the current
    // one.
    window_->hide();
  }
  Present({});
}

void WindowPresenter::ActivateWhenExposed() {
  QWindow* handle = window_->windowHandle();
  if (handle == nullptr) return;
  handle->removeEventFilter(this);
  if (handle->isExposed()) {
    // After the events already queued: a window being shown paints its first frame first.
    QTimer::singleShot(0, this, &WindowPresenter::Activate);
    return;
  }
  handle->installEventFilter(this);
  // Should no expose event come, the request still goes out.
  QTimer::singleShot(kExposeWaitMilliseconds, this, [this, handle = QPointer<QWindow>(handle)] {
    if (handle) handle->removeEventFilter(this);
    Activate();
  });
}

bool WindowPresenter::eventFilter(QObject* watched, QEvent* event) {
  auto* handle = qobject_cast<QWindow*>(watched);
  if (handle != nullptr && event->type() == QEvent::Expose && handle->isExposed()) {
    handle->removeEventFilter(this);
    // The expose event paints and commits the first frame; a compositor only activates a
    // surface that is mapped, so the request follows it.
    QTimer::singleShot(0, this, &WindowPresenter::Activate);
  }
  return QObject::eventFilter(watched, event);
}

void WindowPresenter::Activate() {
  if (!pending_) return;
  const StartupToken token = *pending_;
  pending_.reset();
  QWindow* handle = window_->windowHandle();
  if (handle == nullptr || !window_->isVisible()) return;
  const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  // Qt's Wayland plugin activates with the token it finds in the environment and removes it
  // there; what it leaves (no activation protocol) is removed too, so that programs the
  // client starts do not inherit it. Only this thread sets it, and only this one variable.
  if (wayland && token.IsWayland()) qputenv(StartupToken::kWayland, token.value.c_str());
  window_->activateWindow();
  if (wayland) qunsetenv(StartupToken::kWayland);
  ActivateWithX11StartupId(*handle, token);
}

}  // namespace hopwell
