#include "base/FrontEnd.h"

#include <atomic>

namespace hopwell {
namespace {

class SilentFrontEnd final : public IFrontEnd {
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

std::shared_ptr<IFrontEnd>& Slot() {
  static std::shared_ptr<IFrontEnd> slot = std::make_shared<SilentFrontEnd>();
  return slot;
}

}  // namespace

void SetFrontEnd(std::shared_ptr<IFrontEnd> frontEnd) {
  if (!frontEnd) frontEnd = std::make_shared<SilentFrontEnd>();
  std::atomic_store(&Slot(), std::move(frontEnd));
}

std::shared_ptr<IFrontEnd> FrontEnd() {
  return std::atomic_load(&Slot());
}

}  // namespace hopwell
