#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"

namespace hopwell {

// Builds the command object of a known command name from its argument and its job.
using CommandCreator =
    std::function<std::shared_ptr<KelvCmd>(const std::string& argument, const JobPtr& job)>;

// The process-wide table of command classes. Each command registers its creator once at
// start-up; a known name without a creator behaves like an unknown one.
class CommandFactory {
 public:
  static CommandFactory& Instance();

  void Register(const std::string& name, CommandCreator creator);
  void Unregister(const std::string& name);
  // Empty when no creator is registered for name.
  std::shared_ptr<KelvCmd> Create(const std::string& name, const std::string& argument,
                                  const JobPtr& job) const;
  bool Has(const std::string& name) const;

 private:
  mutable std::mutex lock_;
  std::map<std::string, CommandCreator> creators_;
};

}  // namespace hopwell
