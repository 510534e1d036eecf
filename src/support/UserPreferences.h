#pragma once

#include <mutex>
#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/property_tree/ptree.hpp>

#include "base/Logging.h"

namespace hopwell {

// The user's contact details for error reports, kept in AppDataRoot()/"UserPreferences.xml".
// Errors of the file are logged and otherwise ignored: a missing, unreadable or malformed
// file reads as empty preferences.
class UserPreferences {
 public:
  // The process's instance, loaded from the file on first use.
  static UserPreferences& Instance();

  // Loads from `path` at once (tests).
  explicit UserPreferences(boost::filesystem::path path);
  UserPreferences(const UserPreferences&) = delete;
  UserPreferences& operator=(const UserPreferences&) = delete;

  std::string Name() const;
  std::string Email() const;
  void SetName(const std::string& name);
  void SetEmail(const std::string& email);

  // Writes the file (replacing it); false when it could not be written.
  bool Save();

  const boost::filesystem::path& Path() const { return path_; }

 private:
  void Load();
  std::string Get(const char* key) const;

  LogSource log_;
  const boost::filesystem::path path_;
  mutable std::recursive_mutex lock_;
  boost::property_tree::ptree tree_;
};

}  // namespace hopwell
