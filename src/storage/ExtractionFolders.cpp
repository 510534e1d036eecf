#include "storage/ExtractionFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <boost/filesystem/operations.hpp>

namespace hopwell {
namespace {

// Archives with more folders than this reopen the ones they come back to.
constexpr std::size_t kMaxOpenFolders = 128;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int OpenBelow(int parent, const std::string& name) {
  int fd = -1;
  do {
    fd = ::openat(parent, name.c_str(), kFolderFlags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

ExtractionFolders::ExtractionFolders(boost::filesystem::path destination)
    : destination_(std::move(destination)) {}

ExtractionFolders::Folder ExtractionFolders::Open(const std::vector<std::string_view>& folders,
                                                  bool create, std::vector<std::string>* created) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Folder result;
  if (!root_) {
    // The destination is the caller's own path; only what lies below it comes from outside.
    UniqueFd fd(::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd && errno == ENOENT && create) {
      boost::system::error_code error;
      boost::filesystem::create_directories(destination_, error);
      fd.reset(::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd) {
      result.error = errno;
      return result;
    }
    root_ = std::make_shared<const UniqueFd>(std::move(fd));
  }
  Handle current = root_;
  std::string key;
  for (const std::string_view folder : folders) {
    if (!key.empty()) key += '/';
    key += folder;
    if (const auto found = open_.find(key); found != open_.end()) {
      current = found->second;
      continue;
    }
    const std::string name(folder);
    int fd = OpenBelow(current->get(), name);
    if (fd < 0 && errno == ENOENT && create) {
      if (::mkdirat(current->get(), name.c_str(), 0777) == 0) {
        if (created != nullptr) created->push_back(key);
      } else if (errno != EEXIST) {
        result.error = errno;
        return result;
      }
      fd = OpenBelow(current->get(), name);
    }
    if (fd < 0) {
      result.error = errno;
      struct stat status {};
      if ((errno == ELOOP || errno == ENOTDIR) &&
          ::fstatat(current->get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(status.st_mode)) {
        result.status = Status::Link;
      }
      return result;
    }
    if (open_.size() >= kMaxOpenFolders) open_.clear();  // holders keep theirs open
    current = std::make_shared<const UniqueFd>(fd);
    open_.emplace(key, current);
  }
  result.status = Status::Ok;
  result.fd = std::move(current);
  return result;
}

void ExtractionFolders::Remove(const std::vector<std::string_view>& folders,
                               std::string_view name) {
  if (name.empty()) {
    if (folders.empty()) return;
    const std::vector<std::string_view> parent(folders.begin(), folders.end() - 1);
    const Folder folder = Open(parent, false);
    if (folder.status != Status::Ok) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      std::string key;
      for (const std::string_view part : folders) {
        if (!key.empty()) key += '/';
        key += part;
      }
      open_.erase(key);
    }
    ::unlinkat(folder.fd->get(), std::string(folders.back()).c_str(), AT_REMOVEDIR);
    return;
  }
  const Folder folder = Open(folders, false);
  if (folder.status == Status::Ok) ::unlinkat(folder.fd->get(), std::string(name).c_str(), 0);
}

}  // namespace hopwell
