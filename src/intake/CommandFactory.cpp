#include "intake/CommandFactory.h"

namespace hopwell {

CommandFactory& CommandFactory::Instance() {
  static CommandFactory factory;
  return factory;
}

void CommandFactory::Register(const std::string& name, CommandCreator creator) {
  std::lock_guard lock(lock_);
  creators_[name] = std::move(creator);
}

void CommandFactory::Unregister(const std::string& name) {
  std::lock_guard lock(lock_);
  creators_.erase(name);
}

std::shared_ptr<KelvCmd> CommandFactory::Create(const std::string& name,
                                                const std::string& argument,
                                                const JobPtr& job) const {
  CommandCreator creator;
  {
    std::lock_guard lock(lock_);
    auto it = creators_.find(name);
    if (it == creators_.end()) return nullptr;
    creator = it->second;
  }
  return creator(argument, job);
}

bool CommandFactory::Has(const std::string& name) const {
  std::lock_guard lock(lock_);
  return creators_.count(name) != 0;
}

}  // namespace hopwell
