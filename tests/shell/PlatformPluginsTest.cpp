#include "shell/PlatformPlugins.h"

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(PlatformPluginsTest, PlatformsTriedAndWhyNoneStarted) {
  EXPECT_EQ(PlatformsToTry(""), (std::vector<std::string>{"wayland", "xcb"}));
  EXPECT_EQ(PlatformsToTry("xcb:nograb;;wayland-egl"),
            (std::vector<std::string>{"xcb", "wayland-egl"}));
  const std::vector<std::string> both = {"wayland", "wayland-egl", "xcb"};
  EXPECT_EQ(NoWindowReason(both, [](const std::string& file) { return file == "libqxcb.so"; }),
            "the package qt6-wayland (Qt's Wayland platform plugin) is not installed");
  EXPECT_EQ(NoWindowReason(both, [](const std::string&) { return false; }),
            "the package qt6-wayland (Qt's Wayland platform plugin) is not installed, and the "
            "package libqt6gui6 (Qt's X11 platform plugin) is not installed");
  EXPECT_EQ(NoWindowReason({"wayland", "xcb"}, [](const std::string&) { return true; }),
            "no display could be opened (platforms tried: wayland, xcb)");
}

}  // namespace
}  // namespace hopwell
