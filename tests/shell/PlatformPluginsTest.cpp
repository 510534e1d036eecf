#include "shell/PlatformPlugins.h"

#include <set>

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(PlatformPluginsTest, PlatformsTriedAndWhyNoneStarted) {
  using List = std::vector<std::string>;
  EXPECT_EQ(PlatformsToTry(""), (List{"wayland", "xcb"}));
  EXPECT_EQ(PlatformsToTry("xcb:nograb;;wayland-egl"), (List{"xcb", "wayland-egl"}));

  const struct {
    List platforms;
    std::set<std::string> installed;
    std::string reason;
  } cases[] = {
      {{"wayland", "xcb"},
       {"libqxcb.so"},
       "the package qt6-wayland (Qt's Wayland platform plugin) is not installed"},
      {{"wayland", "wayland-egl", "xcb"},
       {},
       "the package qt6-wayland (Qt's Wayland platform plugin) is not installed, and the package "
       "libqt6gui6 (Qt's X11 platform plugin) is not installed"},
      {{"wayland", "xcb"},
       {"libqxcb.so", "libqwayland-generic.so"},
       "no display could be opened (platforms tried: wayland, xcb)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NoWindowReason(c.platforms,
                             [&](const std::string& file) { return c.installed.count(file) > 0; }),
              c.reason);
  }
}

}  // namespace
}  // namespace hopwell
