#pragma once

#include <boost/filesystem/path.hpp>

namespace hopwell {

class OpenCmdParameters;

// The chapter version's own folder TempRoot / "IDS" / "TPVID", created. When it exists
// already, a recent application gets the first free sibling "<TPVID>_0", "_1", ...; for an
// older one the previous contents are moved into that sibling and the folder is reused
// empty. Partial downloads ("<name>.part") of an open cut short are removed from the earlier
// folder first. Empty when "IDS" or "TPVID" is not a single safe folder name, or "IDS" names one
// of the client's own folders (SpaceFolder). Throws
// boost::filesystem::filesystem_error when the file system refuses.
boost::filesystem::path GetDownloadFolder(OpenCmdParameters& parameters);

}  // namespace hopwell
