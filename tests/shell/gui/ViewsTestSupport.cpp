#include "ViewsTestSupport.h"

#include <QLabel>
#include <QPushButton>

#include "shell/gui/Dialogs.h"

namespace hopwell::testing {

DialogScript::DialogScript() {
  SetDialogObserver([this](QDialog& dialog) { Handle(dialog); });
}

DialogScript::~DialogScript() {
  SetDialogObserver({});
}

void DialogScript::On(const std::string& objectName, Answer answer) {
  std::lock_guard lock(lock_);
  answers_[objectName] = std::move(answer);
}

std::vector<std::string> DialogScript::Seen() const {
  std::lock_guard lock(lock_);
  return seen_;
}

void DialogScript::Handle(QDialog& dialog) {
  Answer answer;
  {
    std::lock_guard lock(lock_);
    seen_.push_back(dialog.objectName().toStdString());
    auto it = answers_.find(dialog.objectName().toStdString());
    if (it != answers_.end()) answer = it->second;
  }
  if (answer) answer(dialog);
}

bool Click(QDialog& dialog, const char* buttonName) {
  auto* button = dialog.findChild<QPushButton*>(buttonName);
  if (button == nullptr) return false;
  button->click();
  return true;
}

std::string LabelText(QDialog& dialog, const char* labelName) {
  auto* label = dialog.findChild<QLabel*>(labelName);
  return label == nullptr ? std::string("<no label>") : label->text().toStdString();
}

}  // namespace hopwell::testing
