#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"

namespace hopwell {

// One per-user "PluginConfig.txt" of the editing application: sections ("=Path",
// "=Exclude", ...) of quoted entries, kept as UTF-8 bytes (code-point order is byte order,
// and bytes that are not UTF-8 survive a rewrite unchanged). Loads on construction; when save is
// set, the file is written back on destruction, sections in name order, lines ended by CR LF.
// A file that exists but cannot be read whole is never written: the user's other entries in
// it would be lost.
class PluginConfigFile {
 public:
  PluginConfigFile(boost::filesystem::path path, bool save);
  PluginConfigFile(const PluginConfigFile&) = delete;
  PluginConfigFile& operator=(const PluginConfigFile&) = delete;
  ~PluginConfigFile();

  // Reads the file (LF or CR LF, an optional byte-order mark); a missing file is empty.
  // False when the file is there but could not be read whole (ReadError says why).
  bool LoadConfig();
  // Replaces the file through a temporary file beside it. False when it could not be
  // written, or was not read whole; the old file then stays as it was. A file that already
  // holds exactly these bytes is left untouched.
  bool SaveConfig();
  // Empty when the last load read the file whole or found none; else the system's reason.
  const std::string& ReadError() const { return readError_; }
  // Loads from text instead of the file (fuzzing, tests).
  void LoadText(const std::string& text);
  std::string ToText() const;

  bool HasPathEntry(const boost::filesystem::path& folder);
  // False when the entry was there already.
  bool AddPathEntry(const boost::filesystem::path& folder);
  void RemovePathEntry(const boost::filesystem::path& folder);
  // Drops every "=Path" entry that names a folder below `folder`, except `keep`.
  void RemovePathEntriesBelow(const boost::filesystem::path& folder,
                              const boost::filesystem::path& keep);
  // Lists every ".pln" file below folder in "=Exclude" and drops folder from "=Path".
  void ExcludePlugins(const boost::filesystem::path& folder);

  const std::map<std::string, std::vector<std::string>>& Sections() const { return sections_; }

  // The path in double quotes, as entries are written.
  static std::string QuotedLine(const boost::filesystem::path& path);
  // Entries compare equal regardless of letter case.
  static bool SameEntry(const std::string& a, const std::string& b);

 private:
  LogSource log_;
  std::map<std::string, std::vector<std::string>> sections_;
  boost::filesystem::path path_;
  bool save_;
  std::string readError_;
  // The bytes as last read or written; empty when there was no file.
  std::optional<std::string> onDisk_;
};

}  // namespace hopwell
