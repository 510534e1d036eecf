#pragma once

#include <functional>

class QApplication;
class QWidget;

namespace hopwell::testing {

// The test program's QApplication, created on first use on the offscreen platform (unless
// QT_QPA_PLATFORM says otherwise). Call it at the start of every GUI test.
QApplication& GuiApp();

// Processes events until `done` holds or `timeoutMilliseconds` pass; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int timeoutMilliseconds = 5000);

// Once a modal widget (other than those open now) appears, hands it to `answer`, which
// typically clicks one of its buttons. Call it before the code that opens the dialog.
void AnswerNextModal(std::function<void(QWidget* dialog)> answer, int timeoutMilliseconds = 5000);

}  // namespace hopwell::testing
