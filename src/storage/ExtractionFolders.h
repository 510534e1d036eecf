#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "storage/FileOperations.h"

namespace hopwell {

// The folders below an extraction's destination, each opened once, relative to its parent's
// descriptor and without following a link (O_NOFOLLOW), and kept open: a file is then created
// with openat relative to a folder that was checked or made by this object itself, so no
// link planted anywhere on its way can carry it elsewhere, and no path is walked again for
// the next file. Safe to use from several threads.
class ExtractionFolders {
 public:
  enum class Status { Ok, Link, Failed };
  struct Folder {
    Status status = Status::Failed;
    std::shared_ptr<const UniqueFd> fd;  // set when Ok
    int error = 0;                       // errno when Failed
  };

  explicit ExtractionFolders(boost::filesystem::path destination);

  // The folder destination / folders[0] / folders[1] / ...; missing folders are made when
  // `create` is true, and their relative names ("a", "a/b") appended to `created`.
  Folder Open(const std::vector<std::string_view>& folders, bool create,
              std::vector<std::string>* created = nullptr);

  // Removes the file `name` in a folder, or the folder itself when it is empty (name
  // empty); for taking back what an extraction made after its first failure.
  void Remove(const std::vector<std::string_view>& folders, std::string_view name);

 private:
  using Handle = std::shared_ptr<const UniqueFd>;

  boost::filesystem::path destination_;
  std::mutex mutex_;
  Handle root_;
  std::unordered_map<std::string, Handle> open_;
};

}  // namespace hopwell
