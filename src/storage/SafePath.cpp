#include "storage/SafePath.h"

namespace hopwell {

bool IsSafeComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<boost::filesystem::path> JoinChecked(const boost::filesystem::path& folder,
                                                   std::string_view name) {
  if (!IsSafeComponent(name)) return std::nullopt;
  return folder / boost::filesystem::path(std::string(name));
}

std::optional<std::vector<std::string_view>> SplitRelativeChecked(std::string_view relative) {
  if (relative.empty() || relative.front() == '/' || relative.front() == '\\') return std::nullopt;
  std::vector<std::string_view> components;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relative.find_first_of("/\\", start);
    const std::string_view component = relative.substr(start, end - start);
    // A drive letter or an alternate stream ("C:", "a:b") means something else on Windows.
    if (!IsSafeComponent(component) || component.find(':') != std::string_view::npos) {
      return std::nullopt;
    }
    components.push_back(component);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return components;
}

std::optional<boost::filesystem::path> JoinRelativeChecked(const boost::filesystem::path& folder,
                                                           std::string_view relative) {
  const auto components = SplitRelativeChecked(relative);
  if (!components) return std::nullopt;
  boost::filesystem::path result = folder;
  for (const std::string_view component : *components) {
    result /= boost::filesystem::path(std::string(component));
  }
  return result;
}

}  // namespace hopwell
