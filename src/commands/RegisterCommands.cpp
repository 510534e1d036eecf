#include "commands/RegisterCommands.h"

#include <memory>

#include "commands/esef/EsefCmd.h"
#include "commands/install/InstallCmd.h"
#include "commands/open/OpenCmd.h"
#include "commands/save/SaveCmd.h"
#include "intake/CommandFactory.h"
#include "support/TestCmd.h"

namespace hopwell {

void RegisterCommands() {
  CommandFactory& factory = CommandFactory::Instance();
  // The test command takes only its job; its argument is ignored.
  factory.Register(
      "test", [](const std::string&, const JobPtr& job) { return std::make_shared<TestCmd>(job); });
  factory.Register("open", [](const std::string& argument, const JobPtr& job) {
    return std::make_shared<OpenCmd>(argument, job);
  });
  factory.Register("install", [](const std::string& argument, const JobPtr& job) {
    return std::make_shared<InstallCmd>(argument, job);
  });
  factory.Register("save", [](const std::string& argument, const JobPtr& job) {
    return std::make_shared<SaveCmd>(argument, job);
  });
  factory.Register("esef", [](const std::string& argument, const JobPtr& job) {
    return std::make_shared<EsefCmd>(argument, job);
  });
}

}  // namespace hopwell
