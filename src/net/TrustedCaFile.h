#pragma once

#include <string>

namespace hopwell {

// The PEM file whose certificate authorities HTTPS transfers trust besides the system's
// store: $HOPWELL_CA_FILE when set, else the deployment's file under the user's data folder
// (the local simulator's CA), else none (empty).
std::string TrustedCaFile();

}  // namespace hopwell
