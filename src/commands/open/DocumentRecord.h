#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

#include "commands/open/CommandContext.h"

namespace hopwell {

class OpenCmdParameters;

// Records which chapter the downloaded document belongs to, for the plug-in: a recent
// application gets "CurrentDocumentDB.xml" beside the document, an older one a new row of
// "CurrentDocuments.cdb" (changed under DocumentTableLock). False after a failure was
// reported on the job.
[[nodiscard]] bool RecordDocument(CommandContext& command, OpenCmdParameters& parameters,
                                  const boost::filesystem::path& documentPath);

// The text of "CurrentDocumentDB.xml" for the document.
std::string DocumentRecordXml(CommandContext& command, OpenCmdParameters& parameters,
                              const boost::filesystem::path& documentPath);

}  // namespace hopwell
