#pragma once

#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>

namespace hopwell {

class JobStatus;

enum class ProxyAnswer { Retry, Cancelled, Other };

struct ProxyCredentials {
  std::string user;
  std::string password;
};

// Everything the core needs from the user's side. The desktop (Qt) and the headless
// front end implement it; tests hand in their own.
class IFrontEnd {
 public:
  virtual ~IFrontEnd() = default;

  // A new job was submitted. Called on the user-interface thread.
  virtual void JobAdded(JobStatus& job) = 0;
  // A job's fields changed. Called on the writer's thread; must not wait for the
  // user-interface thread.
  virtual void JobChanged(JobStatus& job) = 0;

  // Modal message box; blocks only the calling thread until it is closed. An empty title
  // stands for "Kelvory".
  virtual void ShowMessageDialog(const std::string& title, const std::string& text) = 0;
  // The editing application could not be found; blocks the calling thread until closed.
  virtual void ShowApplicationMissing(const std::string& text) = 0;

  virtual void OpenUrl(const std::string& url) = 0;
  virtual void ExploreFolder(const boost::filesystem::path& folder) = 0;

  // True when the user chose to quit while transfers are in progress.
  virtual bool ConfirmQuit() = 0;

  // A proxy asked for credentials (HTTP 407). Retry means `credentials` were filled in.
  virtual ProxyAnswer AskProxyCredentials(const std::string& url,
                                          ProxyCredentials& credentials) = 0;
};

// Takes every dialog's default answer and shows nothing: what runs before a front end is
// set, and a base for stand-ins that override only what they watch.
class SilentFrontEnd : public IFrontEnd {
 public:
  void JobAdded(JobStatus&) override {}
  void JobChanged(JobStatus&) override {}
  void ShowMessageDialog(const std::string&, const std::string&) override {}
  void ShowApplicationMissing(const std::string&) override {}
  void OpenUrl(const std::string&) override {}
  void ExploreFolder(const boost::filesystem::path&) override {}
  bool ConfirmQuit() override { return false; }
  ProxyAnswer AskProxyCredentials(const std::string&, ProxyCredentials&) override {
    return ProxyAnswer::Cancelled;
  }
};

// The process-wide front end. Until one is set, a silent one that takes every dialog's
// default answer is used.
void SetFrontEnd(std::shared_ptr<IFrontEnd> frontEnd);
std::shared_ptr<IFrontEnd> FrontEnd();

}  // namespace hopwell
