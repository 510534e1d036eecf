#include "base/FrontEnd.h"

#include <atomic>

namespace hopwell {
namespace {

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
