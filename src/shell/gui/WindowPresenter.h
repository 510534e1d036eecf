#pragma once

#include <optional>

#include <QObject>

#include "shell/StartupToken.h"

class QWidget;

namespace hopwell {

// Brings a top-level window to the user. The window is shown (restored when minimised), and
// once it is on screen activation is asked for, with the startup token of the launch that
// wants it where there is one: compositors and window managers that prevent focus stealing
// grant activation, or mark the window urgent, only with a token.
class WindowPresenter : public QObject {
  Q_OBJECT

 public:
  explicit WindowPresenter(QWidget* window);

  // Shows the window and asks for activation with `token` (which may be empty).
  void Present(const StartupToken& token);
  // The tray icon's activation, which carries no token: a window that is shown but not
  // active is shown anew, so that the compositor maps it where the user is now.
  void PresentAnew();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ActivateWhenExposed();
  void Activate();

  QWidget* window_;
  std::optional<StartupToken> pending_;
};

}  // namespace hopwell
