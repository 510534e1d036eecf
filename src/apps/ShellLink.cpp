#include "apps/ShellLink.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <boost/filesystem/operations.hpp>

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Shell-link files are small; anything larger is not one.
constexpr std::uintmax_t kMaxLinkSize = 1 << 20;
constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr std::array<unsigned char, 16> kLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kHasLinkTargetIdList = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;

// Bounds-checked little-endian reads over the file's bytes.
class Bytes {
 public:
  Bytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool U16(std::size_t at, std::uint32_t& value) const {
    if (at > size_ || size_ - at < 2) return false;
    value = data_[at] | (data_[at + 1] << 8);
    return true;
  }
  bool U32(std::size_t at, std::uint32_t& value) const {
    if (at > size_ || size_ - at < 4) return false;
    value = static_cast<std::uint32_t>(data_[at]) |
            (static_cast<std::uint32_t>(data_[at + 1]) << 8) |
            (static_cast<std::uint32_t>(data_[at + 2]) << 16) |
            (static_cast<std::uint32_t>(data_[at + 3]) << 24);
    return true;
  }
  // A NUL-terminated byte string starting at `at` and ending before `end`.
  bool String(std::size_t at, std::size_t end, std::string& text) const {
    if (at >= end || end > size_) return false;
    const void* nul = std::memchr(data_ + at, 0, end - at);
    if (nul == nullptr) return false;
    text.assign(reinterpret_cast<const char*>(data_ + at),
                static_cast<const unsigned char*>(nul) - (data_ + at));
    return true;
  }
  // A NUL-terminated UTF-16LE string, converted to UTF-8; false on a broken surrogate.
  bool WideString(std::size_t at, std::size_t end, std::string& text) const {
    text.clear();
    for (std::size_t i = at;; i += 2) {
      std::uint32_t unit = 0;
      if (i + 2 > end || !U16(i, unit)) return false;
      if (unit == 0) return true;
      std::uint32_t code = unit;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        std::uint32_t low = 0;
        if (i + 4 > end || !U16(i + 2, low) || low < 0xDC00 || low > 0xDFFF) return false;
        code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return false;
      }
      AppendUtf8(code, text);
    }
  }
  bool Matches(std::size_t at, const unsigned char* expected, std::size_t count) const {
    return at <= size_ && size_ - at >= count && std::memcmp(data_ + at, expected, count) == 0;
  }

 private:
  static void AppendUtf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  const unsigned char* data_;
  std::size_t size_;
};

}  // namespace

std::string ReadShellLinkTarget(const unsigned char* data, std::size_t size) {
  const Bytes bytes(data, size);
  std::uint32_t headerSize = 0;
  std::uint32_t flags = 0;
  if (!bytes.U32(0, headerSize) || headerSize != kHeaderSize ||
      !bytes.Matches(4, kLinkClsid.data(), kLinkClsid.size()) || !bytes.U32(20, flags)) {
    return {};
  }
  std::size_t at = kHeaderSize;
  if (flags & kHasLinkTargetIdList) {
    std::uint32_t idListSize = 0;
    if (!bytes.U16(at, idListSize)) return {};
    at += 2 + idListSize;
  }
  if (!(flags & kHasLinkInfo)) return {};

  // LinkInfo: size, header size, flags, then offsets relative to its start.
  std::uint32_t infoSize = 0, infoHeaderSize = 0, infoFlags = 0;
  if (!bytes.U32(at, infoSize) || !bytes.U32(at + 4, infoHeaderSize) ||
      !bytes.U32(at + 8, infoFlags) || infoSize < 0x1C || infoHeaderSize > infoSize ||
      infoSize > size - at) {
    return {};
  }
  if (!(infoFlags & kVolumeIdAndLocalBasePath)) return {};
  const std::size_t end = at + infoSize;
  std::uint32_t baseOffset = 0, suffixOffset = 0;
  if (!bytes.U32(at + 16, baseOffset) || !bytes.U32(at + 24, suffixOffset)) return {};

  std::string base, suffix;
  std::uint32_t wideBase = 0, wideSuffix = 0;
  if (infoHeaderSize >= 0x24 && bytes.U32(at + 28, wideBase) && bytes.U32(at + 32, wideSuffix) &&
      wideBase != 0 && bytes.WideString(at + wideBase, end, base)) {
    if (wideSuffix != 0 && !bytes.WideString(at + wideSuffix, end, suffix)) suffix.clear();
    return base + suffix;
  }
  if (!bytes.String(at + baseOffset, end, base)) return {};
  if (suffixOffset != 0 && !bytes.String(at + suffixOffset, end, suffix)) suffix.clear();
  return base + suffix;
}

fs::path ResolveShortcut(const fs::path& shortcut) {
  boost::system::error_code error;
  const fs::file_status status = fs::symlink_status(shortcut, error);
  if (error) return {};
  if (fs::is_symlink(status)) {
    fs::path target = fs::read_symlink(shortcut, error);
    if (error) return {};
    // A relative link target is relative to the link's own folder.
    return target.is_absolute() ? target : shortcut.parent_path() / target;
  }
  if (!fs::is_regular_file(status)) return {};
  const std::uintmax_t size = fs::file_size(shortcut, error);
  if (error || size > kMaxLinkSize) return {};
  std::ifstream in(shortcut.string(), std::ios::binary);
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  return ReadShellLinkTarget(data.data(), data.size());
}

}  // namespace hopwell
