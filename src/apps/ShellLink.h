#pragma once

#include <cstddef>
#include <string>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The target of a shortcut: a symbolic link's target, or the local target path held in a
// regular file of the shell-link (.lnk) format. Empty on any failure.
boost::filesystem::path ResolveShortcut(const boost::filesystem::path& shortcut);

// The local target path of shell-link bytes (link info's local base path, unicode form
// preferred, joined with the common path suffix). Empty when the bytes are not a shell
// link or are damaged; never reads outside data[0, size).
std::string ReadShellLinkTarget(const unsigned char* data, std::size_t size);

}  // namespace hopwell
