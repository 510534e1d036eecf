#include "net/TrustedCaFile.h"

#include <cstdlib>

#include "Deployment.h"
#include "storage/LocalFolders.h"

namespace hopwell {

std::string TrustedCaFile() {
  if (const char* file = std::getenv("HOPWELL_CA_FILE"); file != nullptr && *file != '\0') {
    return file;
  }
  if (*deployment::kUserCaFile == '\0') return {};
  return (UserDataFolder() / deployment::kUserCaFile).string();
}

}  // namespace hopwell
