#include "shell/PlatformPlugins.h"

#include <algorithm>

#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>

namespace hopwell {
namespace {

struct KnownPlatform {
  const char* name;
  const char* file;
  const char* package;
  const char* windowSystem;
};

const KnownPlatform kKnown[] = {
    {"wayland", "libqwayland-generic.so", "qt6-wayland", "Wayland"},
    {"wayland-egl", "libqwayland-egl.so", "qt6-wayland", "Wayland"},
    {"xcb", "libqxcb.so", "libqt6gui6", "X11"},
};

const KnownPlatform* Find(const std::string& platform) {
  for (const KnownPlatform& known : kKnown) {
    if (platform == known.name) return &known;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> PlatformsToTry(const char* requested) {
  std::vector<std::string> platforms;
  if (requested != nullptr && *requested != '\0') {
    std::vector<std::string> parts;
    boost::split(parts, std::string(requested), [](char c) { return c == ';'; });
    for (std::string& part : parts) {
      part = part.substr(0, part.find(':'));
      if (!part.empty()) platforms.push_back(part);
    }
  }
  if (platforms.empty()) platforms = {"wayland", "xcb"};
  return platforms;
}

std::string PlatformPluginFile(const std::string& platform) {
  const KnownPlatform* known = Find(platform);
  return known != nullptr ? known->file : "";
}

std::string PlatformPluginPackage(const std::string& platform) {
  const KnownPlatform* known = Find(platform);
  return known != nullptr ? known->package : "";
}

std::string NoWindowReason(const std::vector<std::string>& platforms,
                           const std::function<bool(const std::string&)>& installed) {
  std::vector<std::string> missing;
  for (const std::string& platform : platforms) {
    const KnownPlatform* known = Find(platform);
    if (known == nullptr || installed(known->file)) continue;
    const std::string text = std::string("the package ") + known->package + " (Qt's " +
                             known->windowSystem + " platform plugin) is not installed";
    if (std::find(missing.begin(), missing.end(), text) == missing.end()) missing.push_back(text);
  }
  if (!missing.empty()) return boost::algorithm::join(missing, ", and ");
  return "no display could be opened (platforms tried: " + boost::algorithm::join(platforms, ", ") +
         ")";
}

}  // namespace hopwell
