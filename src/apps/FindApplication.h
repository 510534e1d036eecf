#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

#include "intake/AppCmdParameters.h"

namespace hopwell {

// Looks for the main (additional false) or the additional application of a parameter
// document: its usual installation path, then the shortcut AppDataRoot / name + ".lnk",
// then each registry key of the document. Empty when nothing was found.
boost::filesystem::path FindApplication(AppCmdParameters& parameters, bool additional);

// The default value of a key of the registry file ($XDG_CONFIG_HOME/Kelv/registry.ini,
// then /etc/xdg/Kelv/registry.ini): the section named exactly as the key path, entry "@".
// Empty on failure. A value of 1024 bytes or more is cut to its first 1023.
std::string QueryRegistry(const std::string& keyPath);

}  // namespace hopwell
