#include "commands/esef/EsefCmdParameters.h"

namespace hopwell {

bool EsefCmdParameters::Parse(const std::string& argument) {
  HW_LOG(log_, info) << "    EsefCmdParameters::Parse " << argument;
  const std::size_t colon = argument.rfind(':');
  if (colon == std::string::npos) {
    HW_LOG(log_, warning)
        << "    EsefCmdParameters::Parse failed to parse, could not locate ':' in " << argument;
    return false;
  }
  url = argument.substr(0, colon);
  token = argument.substr(colon + 1);
  HW_LOG(log_, info) << "    EsefCmdParameters::Parse: success";
  HW_LOG(log_, info) << "      url:   " << url;
  HW_LOG(log_, info) << "      token: " << token;
  return true;
}

}  // namespace hopwell
