#include "storage/ArchiveContents.h"

#include <sys/stat.h>

#include <memory>

#include <minizip/unzip.h>

#include "storage/SafePath.h"
#include "storage/ZipArchiveFile.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Names are read whole (the format allows 65535 bytes).
constexpr std::size_t kNameBufferSize = 65536;

struct UnzCloser {
  void operator()(void* archive) const noexcept { unzClose(archive); }
};

}  // namespace

std::optional<std::vector<ArchiveEntry>> ReadArchiveEntries(const fs::path& archive) {
  ZipArchiveFile file;
  zlib_filefunc64_def functions = file.Functions();
  const std::unique_ptr<void, UnzCloser> handle(unzOpen2_64(archive.c_str(), &functions));
  if (!handle) return std::nullopt;
  std::vector<ArchiveEntry> entries;
  std::vector<char> name(kNameBufferSize + 1);
  int status = unzGoToFirstFile(handle.get());
  while (status == UNZ_OK) {
    unz_file_info64 info{};
    status = unzGetCurrentFileInfo64(handle.get(), &info, name.data(), kNameBufferSize, nullptr, 0,
                                     nullptr, 0);
    if (status != UNZ_OK) return std::nullopt;
    std::string entry(name.data(), std::min<std::size_t>(info.size_filename, kNameBufferSize));
    if (!entry.empty() && entry.back() != '/' && entry.back() != '\\') {
      entries.push_back({std::move(entry), info.uncompressed_size});
    }
    status = unzGoToNextFile(handle.get());
  }
  if (status != UNZ_END_OF_LIST_OF_FILE) return std::nullopt;
  return entries;
}

std::optional<std::string> FirstEntryNotHeld(const fs::path& archive, const fs::path& folder) {
  const auto entries = ReadArchiveEntries(archive);
  if (!entries) return std::nullopt;
  for (const ArchiveEntry& entry : *entries) {
    const auto path = JoinRelativeChecked(folder, entry.name);
    struct stat status {};
    if (!path || ::lstat(path->c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) != entry.size) {
      return entry.name;
    }
  }
  return std::string();
}

}  // namespace hopwell
