#include "shell/gui/TransferInfoDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/TransferInformation.h"
#include "shell/gui/DialogNames.h"

namespace hopwell {
namespace {

QLabel* Value(const std::string& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(QString::fromStdString(text), parent);
  label->setObjectName(name);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

}  // namespace

TransferInfoDialog::TransferInfoDialog(JobStatus& job, QWidget* parent) : QDialog(parent) {
  namespace names = dialog_names;
  const TransferInformation info = ReadTransferInformation(job);
  setObjectName(names::kTransferInfo);
  setWindowTitle(kTransferInformationTitle);
  resize(420, 260);

  auto* form = new QFormLayout();
  auto* nameLabel = new QLabel(QString::fromStdString(info.nameLabel), this);
  nameLabel->setObjectName(names::kNameLabel);
  form->addRow(nameLabel, Value(info.nameValue, names::kNameValue, this));
  form->addRow(new QLabel("Information:", this),
               Value(info.information, names::kInformationValue, this));
  form->addRow(new QLabel("Date:", this), Value(info.date, names::kDateValue, this));

  auto* messages = new QPlainTextEdit(QString::fromStdString(info.message), this);
  messages->setObjectName(names::kMessagesBox);
  messages->setReadOnly(true);

  auto* report = new QPushButton("Send error report", this);
  report->setObjectName(names::kSendErrorReport);
  report->setAutoDefault(false);
  auto* close = new QPushButton("Close", this);
  close->setObjectName(names::kClose);
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, [this] { done(0); });
  connect(report, &QPushButton::clicked, this, [this] {
    sendReport_ = true;
    done(0);
  });

  auto* buttons = new QHBoxLayout();
  buttons->addWidget(report);
  buttons->addStretch();
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(messages, 1);
  layout->addLayout(buttons);
  close->setFocus();
}

}  // namespace hopwell
