#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <QDialog>

#include "base/FrontEnd.h"

namespace hopwell::testing {

// A front end that records the URLs and folders it is asked to open and otherwise does
// nothing.
class RecordingFrontEnd final : public SilentFrontEnd {
 public:
  void OpenUrl(const std::string& url) override {
    std::lock_guard lock(lock_);
    urls_.push_back(url);
  }
  void ExploreFolder(const boost::filesystem::path& folder) override {
    std::lock_guard lock(lock_);
    folders_.push_back(folder);
  }
  bool ConfirmQuit() override { return true; }
  std::vector<std::string> Urls() const {
    std::lock_guard lock(lock_);
    return urls_;
  }
  std::vector<boost::filesystem::path> Folders() const {
    std::lock_guard lock(lock_);
    return folders_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> urls_;
  std::vector<boost::filesystem::path> folders_;
};

// Answers the dialogs of Dialogs.h by object name while it exists: each dialog shown is
// recorded, then handed to the answer registered for its name (if any).
class DialogScript {
 public:
  using Answer = std::function<void(QDialog&)>;
  DialogScript();
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  void On(const std::string& objectName, Answer answer);
  // Object names of the dialogs seen so far, in order.
  std::vector<std::string> Seen() const;

 private:
  void Handle(QDialog& dialog);

  mutable std::mutex lock_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> seen_;
};

// Clicks the dialog's push button with this object name; false when there is none.
bool Click(QDialog& dialog, const char* buttonName);
// The text of the dialog's QLabel with this object name.
std::string LabelText(QDialog& dialog, const char* labelName);

}  // namespace hopwell::testing
