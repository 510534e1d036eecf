#pragma once

#include <boost/filesystem/path.hpp>

#include "commands/open/CommandContext.h"

namespace hopwell {

class OpenCmdParameters;

// Gives an unpacked InDesign document its name from "chaptername" and "documentversion"
// (sanitised) in the folder that holds it, replacing a file of that name. The new path, or
// empty for a file that is not ".indd" and after a failure reported on the job.
boost::filesystem::path PrepareInddFile(CommandContext& command, OpenCmdParameters& parameters,
                                        const boost::filesystem::path& source);

}  // namespace hopwell
