#include "commands/esef/EsefCmdDownloadParameters.h"

namespace hopwell {

EsefCmdDownloadParameters::EsefCmdDownloadParameters(std::istream& in) : document_(in) {}

}  // namespace hopwell
