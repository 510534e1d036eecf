#include "commands/open/FileNames.h"

#include <string_view>

#include "intake/AppCmdParameters.h"

namespace hopwell {
namespace {

constexpr std::string_view kRecentReplaced = "/\\:*?\"<>|";

bool IsKeptByOldApplications(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.';
}

// How many UTF-8 bytes the sequence starting with `lead` takes, and how many UTF-16 units its
// character needs; a byte that starts no valid sequence counts as one unit on its own.
struct Sequence {
  std::size_t bytes;
  int units;
};

Sequence NextSequence(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else {
    return {1, 1};
  }
  if (at + length > text.size()) return {1, 1};
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return {1, 1};
  }
  return {length, length == 4 ? 2 : 1};
}

}  // namespace

std::string SanitizeFileName(AppCmdParameters& parameters, const std::string& name) {
  std::string result;
  result.reserve(name.size());
  if (parameters.IsRecentApplication()) {
    // The replaced characters are ASCII, which never occurs inside a multi-byte sequence.
    for (const char c : name) {
      result.push_back(kRecentReplaced.find(c) == std::string_view::npos ? c : '_');
    }
    return result;
  }
  for (std::size_t at = 0; at < name.size();) {
    if (IsKeptByOldApplications(name[at])) {
      result.push_back(name[at++]);
      continue;
    }
    const Sequence sequence = NextSequence(name, at);
    result.append(static_cast<std::size_t>(sequence.units), 'X');
    at += sequence.bytes;
  }
  return result;
}

std::string MakeSaveFileName(AppCmdParameters& parameters,
                             const boost::filesystem::path& documentPath) {
  std::string stem = documentPath.stem().string();
  if (const auto cut = stem.rfind("_v"); cut != std::string::npos) stem.erase(cut);
  return SanitizeFileName(parameters, stem);
}

}  // namespace hopwell
