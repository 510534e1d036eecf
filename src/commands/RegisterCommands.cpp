#include "commands/RegisterCommands.h"

#include "intake/CommandFactory.h"

namespace hopwell {

void RegisterCommands() {
  [[maybe_unused]] CommandFactory& factory = CommandFactory::Instance();
}

}  // namespace hopwell
