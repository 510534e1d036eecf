#pragma once

#include <QDialog>

namespace hopwell {

class JobStatus;

// "Transfer information" for one job: name, outcome, date and newest message, read once
// when the dialog opens. "Send error report" ends the dialog; the caller then opens the
// error report form.
class TransferInfoDialog : public QDialog {
  Q_OBJECT

 public:
  TransferInfoDialog(JobStatus& job, QWidget* parent);

  bool SendReportChosen() const { return sendReport_; }

 private:
  bool sendReport_ = false;
};

}  // namespace hopwell
