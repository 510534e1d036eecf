#pragma once

#include <string>

class QDialog;
class QWidget;

namespace hopwell {

// Runs the dialog modally (exec) after arranging for the observer of SetDialogObserver to
// see it once its loop runs. Returns exec's result.
int ExecObserved(QDialog& dialog);

// Shows the dialog without a modal loop and hands it to the observer.
void ShowObserved(QDialog& dialog);

// Gives the dialog its natural size for good. A compositor floats a window of fixed size
// even when its owner is hidden (and so cannot be named to the compositor), instead of
// tiling it and cutting its texts off.
void FixToNaturalSize(QDialog& dialog);

// An information box with an "OK" button, modal, observed like the dialogs.
void ShowMessageBox(QWidget* owner, const std::string& caption, const std::string& text);

}  // namespace hopwell
