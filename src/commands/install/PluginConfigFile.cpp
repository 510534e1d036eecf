#include "commands/install/PluginConfigFile.h"

#include <unistd.h>

#include <locale.h>
#include <wctype.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <boost/filesystem/operations.hpp>

#include "storage/DurableFile.h"
#include "storage/FileOperations.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kPathSection = "=Path";
const char* const kExcludeSection = "=Exclude";
const char* const kLineEnd = "\r\n";

// The next code point of UTF-8 text; a byte that does not start a valid sequence stands
// for itself.
char32_t NextCodePoint(const std::string& text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x6  ? 2
                       : (lead >> 4) == 0xE  ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
  if (length <= 1 || at + length > text.size()) {
    ++at;
    return lead;
  }
  char32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return lead;
    }
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  at += length;
  return code;
}

// Upper case as a UTF-8 locale has it, whatever locale the process runs in.
std::wint_t Upper(char32_t code) {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  const auto wide = static_cast<std::wint_t>(code);
  return utf8 != nullptr ? ::towupper_l(wide, utf8) : std::towupper(wide);
}

}  // namespace

PluginConfigFile::PluginConfigFile(fs::path path, bool save) : path_(std::move(path)), save_(save) {
  LoadConfig();
}

PluginConfigFile::~PluginConfigFile() {
  if (save_) SaveConfig();
}

bool PluginConfigFile::LoadConfig() {
  sections_.clear();
  readError_.clear();
  onDisk_.reset();
  errno = 0;
  FileHandle file = OpenFile(path_, "rb");
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return true;  // none yet: it starts empty
    readError_ = boost::system::error_code(errno, boost::system::system_category()).message();
    HW_LOG(log_, error) << "Failed to read " << path_ << ": " << readError_;
    return false;
  }
  std::string text;
  char block[8192];
  std::size_t count = 0;
  while ((count = std::fread(block, 1, sizeof block, file.get())) > 0) text.append(block, count);
  if (std::ferror(file.get()) != 0) {
    readError_ = boost::system::error_code(errno, boost::system::system_category()).message();
    HW_LOG(log_, error) << "Failed to read " << path_ << ": " << readError_;
    return false;
  }
  LoadText(text);
  onDisk_ = std::move(text);
  return true;
}

void PluginConfigFile::LoadText(const std::string& text) {
  sections_.clear();
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::vector<std::string>* section = nullptr;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '=') {
      section = &sections_[line];
    } else if (section == nullptr) {
      HW_LOG(log_, debug) << "Skipping line " << line << " in unnamed section";
    } else {
      section->push_back(std::move(line));
    }
  }
}

std::string PluginConfigFile::ToText() const {
  std::string text;
  for (const auto& [name, entries] : sections_) {
    text += name + kLineEnd;
    for (const std::string& entry : entries) {
      if (!entry.empty()) text += entry + kLineEnd;
    }
  }
  return text;
}

bool PluginConfigFile::SaveConfig() {
  if (!readError_.empty()) return false;
  std::string text = ToText();
  // Registering a folder that is registered already changes nothing: every open goes
  // through hundreds of these files, and each rewrite costs two syncs.
  if (onDisk_ == text) return true;
  // Replaced whole and synced, so that a crash, a power cut or a full disk never leaves the
  // user's other registrations half written or gone.
  boost::system::error_code error;
  if (!ReplaceFileDurably(path_, text, error)) {
    HW_LOG(log_, error) << "Failed to write " << path_ << ": " << error.message();
    return false;
  }
  onDisk_ = std::move(text);
  return true;
}

bool PluginConfigFile::HasPathEntry(const fs::path& folder) {
  try {
    const std::vector<std::string>& entries = sections_.at(kPathSection);
    const std::string line = QuotedLine(folder);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const std::string& entry) { return SameEntry(entry, line); });
  } catch (const std::out_of_range& error) {
    HW_LOG(log_, debug) << error.what();
    HW_LOG(log_, debug) << "Did not find line";
    return false;
  }
}

bool PluginConfigFile::AddPathEntry(const fs::path& folder) {
  if (HasPathEntry(folder)) return false;
  sections_[kPathSection].push_back(QuotedLine(folder));
  return true;
}

void PluginConfigFile::RemovePathEntry(const fs::path& folder) {
  if (!HasPathEntry(folder)) return;
  const std::string line = QuotedLine(folder);
  std::erase_if(sections_[kPathSection],
                [&](const std::string& entry) { return SameEntry(entry, line); });
}

void PluginConfigFile::RemovePathEntriesBelow(const fs::path& folder, const fs::path& keep) {
  const auto found = sections_.find(kPathSection);
  if (found == sections_.end()) return;
  const std::string below = "\"" + folder.string() + "/";
  const std::string kept = QuotedLine(keep);
  std::erase_if(found->second, [&](const std::string& entry) {
    return entry.starts_with(below) && !SameEntry(entry, kept);
  });
}

void PluginConfigFile::ExcludePlugins(const fs::path& folder) {
  boost::system::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (status.type() == fs::status_error) {
    HW_LOG(log_, warning) << "Failed to list " << folder << ": " << error.message();
  }
  if (!fs::exists(status)) return;
  std::vector<std::string>& excluded = sections_[kExcludeSection];
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    // Follows links: one that dangles or loops is no plug-in file.
    boost::system::error_code entryError;
    if (!fs::is_regular_file(it->status(entryError)) || it->path().extension() != ".pln") continue;
    const std::string line = QuotedLine(it->path());
    if (std::none_of(excluded.begin(), excluded.end(),
                     [&](const std::string& entry) { return SameEntry(entry, line); })) {
      excluded.push_back(line);
    }
  }
  if (error) HW_LOG(log_, warning) << "Failed to list " << folder << ": " << error.message();
  RemovePathEntry(folder);
}

std::string PluginConfigFile::QuotedLine(const fs::path& path) {
  return "\"" + path.string() + "\"";
}

bool PluginConfigFile::SameEntry(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const char32_t x = NextCodePoint(a, i);
    const char32_t y = NextCodePoint(b, j);
    if (x != y && Upper(x) != Upper(y)) {
      return false;
    }
  }
  return i == a.size() && j == b.size();
}

}  // namespace hopwell
