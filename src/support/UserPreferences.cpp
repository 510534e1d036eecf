#include "support/UserPreferences.h"

#include <fstream>
#include <sstream>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "storage/DurableFile.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

constexpr const char* kNameKey = "preferences.user.name";
constexpr const char* kEmailKey = "preferences.user.email";

// Load and save of every instance are serialised by one lock for the whole process.
std::recursive_mutex& FileLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

UserPreferences& UserPreferences::Instance() {
  static UserPreferences instance(AppDataRoot() / "UserPreferences.xml");
  return instance;
}

UserPreferences::UserPreferences(fs::path path) : path_(std::move(path)) {
  Load();
}

void UserPreferences::Load() {
  std::lock_guard fileLock(FileLock());
  std::lock_guard lock(lock_);
  HW_LOG(log_, debug) << "Loading user preferences from " << path_;
  tree_.clear();
  boost::system::error_code error;
  if (!fs::exists(path_, error)) return;
  std::ifstream in(path_.string(), std::ios::binary);
  if (!in) {
    HW_LOG(log_, info) << "Failed to open " << path_ << " for reading";
    return;
  }
  try {
    pt::read_xml(in, tree_);
  } catch (const pt::xml_parser_error& parseError) {
    HW_LOG(log_, warning) << "Failed to read user preferences: " << parseError.what();
    tree_.clear();
  }
}

std::string UserPreferences::Get(const char* key) const {
  std::lock_guard lock(lock_);
  return tree_.get<std::string>(key, std::string());
}

std::string UserPreferences::Name() const {
  return Get(kNameKey);
}

std::string UserPreferences::Email() const {
  return Get(kEmailKey);
}

void UserPreferences::SetName(const std::string& name) {
  std::lock_guard lock(lock_);
  tree_.put(kNameKey, name);
}

void UserPreferences::SetEmail(const std::string& email) {
  std::lock_guard lock(lock_);
  tree_.put(kEmailKey, email);
}

bool UserPreferences::Save() {
  std::lock_guard fileLock(FileLock());
  std::lock_guard lock(lock_);
  HW_LOG(log_, debug) << "Saving user preferences to " << path_;
  boost::system::error_code error;
  const fs::path folder = path_.parent_path();
  if (!fs::exists(folder, error)) {
    fs::create_directories(folder, error);
    if (error) {
      HW_LOG(log_, error) << "Failed to create " << folder;
      return false;
    }
  } else if (!fs::is_directory(folder, error)) {
    HW_LOG(log_, error) << folder << " already exists, but is not a directory";
    return false;
  }
  std::ostringstream out;
  try {
    pt::write_xml(out, tree_, pt::xml_writer_make_settings<std::string>(' ', 0, "utf-8"));
  } catch (const pt::xml_parser_error& writeError) {
    HW_LOG(log_, error) << "Failed to write " << path_ << ": " << writeError.what();
    return false;
  }
  // The earlier file stays until the new one is whole and synced.
  if (!ReplaceFileDurably(path_, out.str(), error)) {
    HW_LOG(log_, error) << "Failed to write " << path_ << ": " << error.message();
    return false;
  }
  return true;
}

}  // namespace hopwell
