#include "shell/DesktopOpener.h"

#include <chrono>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using namespace std::chrono_literals;

// xdg-open as the desktops behave: it opens and ends, finds no handler (status 3 or 4), waits
// for the handler it started, or is not installed. Each stand-in records what it was given.
TEST(DesktopOpenerTest, StartedUnlessTheOpenerIsMissingOrFails) {
  const struct {
    const char* name;
    const char* script;  // empty: no xdg-open on PATH
    bool opened;
  } cases[] = {
      {"opens", "exit 0", true},
      {"no handler", "echo 'xdg-open: no method available' >&2; exit 3", false},
      {"action failed", "exit 4", false},
      {"killed", "kill -9 $$", false},
      {"waits for the handler", "/bin/sleep 5", true},
      {"not installed", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    fs::create_directories(dir / "bin");
    if (*c.script != '\0') {
      testing::WriteFile(dir / "bin" / "xdg-open", std::string("#!/bin/sh\nprintf %s \"$1\" > ") +
                                                       (dir / "target").string() + "\n" + c.script +
                                                       "\n");
      fs::permissions(dir / "bin" / "xdg-open", fs::owner_all);
    }
    testing::ScopedEnv path("PATH", (dir / "bin").string());
    const std::string target = "/home/u/.cache/Kelv folder with 'quotes' & $HOME";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(OpenWithDesktop(target, 1s), c.opened);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    if (*c.script != '\0') {
      EXPECT_EQ(testing::ReadFile(dir / "target"), target);
    }
  }
}

}  // namespace
}  // namespace hopwell
