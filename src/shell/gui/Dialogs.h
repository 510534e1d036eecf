#pragma once

#include <functional>
#include <string>

class QDialog;
class QWidget;

namespace hopwell {

// The window the client's dialogs name as their owner (transient parent) when their caller
// names none: tiling compositors then float a dialog at its own size instead of tiling it,
// and others attach it to the window. Null (the default) leaves such dialogs without one.
// User-interface thread.
void SetDialogOwner(QWidget* owner);
QWidget* DialogOwner();

// The About box; modal, returns when it is closed. User-interface thread. `parent` null:
// DialogOwner().
void ShowAboutDialog(QWidget* parent);

// The error report form (name, e-mail, comment, the current log file); modal, returns when
// it is closed. User-interface thread. `parent` null: DialogOwner().
void ShowErrorReportDialog(QWidget* parent);

// The generic message dialog, topmost, owned by DialogOwner(), "Kelvory" as title when
// `title` is empty. Callable
// from any thread: it blocks only the calling thread until the user closes it, so several
// can be open at once (one per command thread). Returns at once when there is no
// QApplication.
void RunMessageDialog(const std::string& title, const std::string& text);

// The application-missing dialog with "Help" (opens the support article, stays open) and
// "Cancel". Threads as for RunMessageDialog.
void RunApplicationMissingDialog(const std::string& text);

// Seam for tests and the screenshot script: called on the user-interface thread with every
// dialog and message box opened through this file, once it is shown and its event loop
// runs. The observer may answer it (click a button, done()) or grab it; an empty function
// removes the observer. Object names of the dialogs and their controls are listed in
// DialogNames.h.
using DialogObserver = std::function<void(QDialog& dialog)>;
void SetDialogObserver(DialogObserver observer);

}  // namespace hopwell
