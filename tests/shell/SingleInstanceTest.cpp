#include "shell/SingleInstance.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::TempDir;
using Result = SingleInstance::RelayResult;

// Takes relays on the running instance until `count` arrived or the time is up.
std::vector<std::string> TakeUntil(SingleInstance& first, std::size_t count,
                                   int milliseconds = 2000) {
  std::vector<std::string> all;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (all.size() < count && std::chrono::steady_clock::now() < deadline) {
    for (auto& relayed : first.TakeRelays()) all.push_back(std::move(relayed.command));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return all;
}

// A relay waits for its acknowledgement, which only TakeRelays gives: the running
// instance's side reads in the background while the test relays.
class BackgroundTaker {
 public:
  explicit BackgroundTaker(SingleInstance& first)
      : thread_([this, &first] {
          while (!stop_) {
            for (auto& relayed : first.TakeRelays()) {
              std::lock_guard lock(lock_);
              const std::string token = EncodeStartupToken(relayed.token);
              taken_.push_back(relayed.command + (token.empty() ? "" : "|" + token));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        }) {}
  ~BackgroundTaker() {
    stop_ = true;
    thread_.join();
  }
  // The acknowledgement goes out inside TakeRelays, a moment before the command is
  // recorded here: wait (briefly) for `count` commands.
  std::vector<std::string> Taken(std::size_t count = 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      {
        std::lock_guard lock(lock_);
        if (taken_.size() >= count || std::chrono::steady_clock::now() > deadline) return taken_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> taken_;
  std::thread thread_;
};

// A raw socket bound or connected to `file`, reached through its folder's descriptor so
// that long temporary paths fit into sun_path.
int RawSocket(const fs::path& file, bool bindIt) {
  const int folder = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path =
      "/proc/self/fd/" + std::to_string(folder) + "/" + file.filename().string();
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const int done = bindIt ? ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address))
                          : ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::close(folder);
  if (done != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  fs::path Folder() const { return dir_ / "instance"; }
  TempDir dir_;
};

TEST_F(SingleInstanceTest, OnlyOneHolderOfTheToken) {
  SingleInstance first(Folder());
  ASSERT_TRUE(first.Acquire()) << first.LastError();
  EXPECT_TRUE(first.IsFirst());
  EXPECT_GE(first.ListenDescriptor(), 0);
  EXPECT_TRUE(fs::exists(first.SocketPath()));

  SingleInstance second(Folder());
  EXPECT_FALSE(second.Acquire());
  EXPECT_TRUE(second.LastError().empty()) << "being second is not an error";
  EXPECT_FALSE(second.IsFirst());
  EXPECT_EQ(second.ListenDescriptor(), -1);

  // The folder is made private to the user.
  struct stat info {};
  ASSERT_EQ(::stat(Folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(SingleInstanceTest, TokenIsFreeAgainWhenTheHolderEnds) {
  {
    SingleInstance first(Folder());
    ASSERT_TRUE(first.Acquire());
  }
  SingleInstance next(Folder());
  EXPECT_TRUE(next.Acquire()) << next.LastError();
}

TEST_F(SingleInstanceTest, LeftoversOfACrashedInstanceDoNotBlock) {
  // A crashed instance leaves its lock file (unlocked: the kernel drops the lock) and a
  // socket file nobody listens on.
  fs::create_directories(Folder());
  fs::permissions(Folder(), fs::owner_all);
  SingleInstance probe(Folder());
  testing::WriteFile(probe.LockPath(), "12345\n");
  const int stale = RawSocket(probe.SocketPath(), true);
  ASSERT_GE(stale, 0);
  ::close(stale);
  ASSERT_TRUE(fs::exists(probe.SocketPath()));
  EXPECT_EQ(SingleInstance::Relay(Folder(), "kelv:test", 500), Result::NoListener);

  SingleInstance first(Folder());
  ASSERT_TRUE(first.Acquire()) << first.LastError();
  auto relay =
      std::async(std::launch::async, [&] { return SingleInstance::Relay(Folder(), "kelv:test"); });
  EXPECT_EQ(TakeUntil(first, 1), std::vector<std::string>{"kelv:test"});
  EXPECT_EQ(relay.get(), Result::Delivered);
}

struct SizeCase {
  std::size_t bytes;
  bool relayable;  // a command that can be handed over
  bool delivered;  // reaches the running instance (an empty relay brings it to the front)
};

class RelaySizeTable : public SingleInstanceTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RelaySizeTable, AtMost4195BytesAreHandedOver) {
  const std::string command = GetParam().bytes == 0
                                  ? std::string()
                                  : "kelv:test:" + std::string(GetParam().bytes - 10, 'x');
  ASSERT_EQ(command.size(), GetParam().bytes);
  EXPECT_EQ(SingleInstance::IsRelayable(command), GetParam().relayable);

  SingleInstance first(Folder());
  ASSERT_TRUE(first.Acquire());
  BackgroundTaker taker(first);
  const Result result = SingleInstance::Relay(Folder(), command);
  EXPECT_EQ(result, GetParam().delivered ? Result::Delivered : Result::NotRelayable);
  // A delivered relay has been acknowledged, so it has been taken already.
  const std::vector<std::string> taken = taker.Taken(GetParam().delivered ? 1 : 0);
  if (GetParam().delivered) {
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0], command);
  } else {
    EXPECT_TRUE(taken.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Bounds, RelaySizeTable,
                         ::testing::Values(SizeCase{0, false, true}, SizeCase{11, true, true},
                                           SizeCase{4194, true, true}, SizeCase{4195, true, true},
                                           SizeCase{4196, false, false},
                                           SizeCase{10000, false, false}),
                         [](const ::testing::TestParamInfo<SizeCase>& info) {
                           return "Bytes" + std::to_string(info.param.bytes);
                         });

// The startup token follows the command when the running instance says it takes tokens;
// an instance of an older version (its lock file holds the process id alone) gets the
// command alone, as before.
TEST_F(SingleInstanceTest, StartupTokenGoesAlongWhereTheInstanceTakesIt) {
  const std::string longest = "kelv:test:" + std::string(4185, 'x');
  const StartupToken wayland{StartupToken::kWayland, "4f1c0a"};
  const StartupToken x11{StartupToken::kX11, "browser-1234-host-hopwell-0_TIME81567"};
  const struct {
    bool olderInstance;
    std::string command;
    StartupToken token;
    std::string taken;
  } cases[] = {
      {false, "kelv:test", wayland, "kelv:test|XDG_ACTIVATION_TOKEN=4f1c0a"},
      {false, "", x11, "|DESKTOP_STARTUP_ID=browser-1234-host-hopwell-0_TIME81567"},
      {false, longest, wayland, longest + "|XDG_ACTIVATION_TOKEN=4f1c0a"},
      {false, "kelv:test", {StartupToken::kWayland, "two words"}, "kelv:test"},
      {false, "kelv:test", {StartupToken::kWayland, std::string(513, 't')}, "kelv:test"},
      {true, "kelv:test", wayland, "kelv:test"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.taken);
    SingleInstance first(Folder());
    ASSERT_TRUE(first.Acquire());
    if (c.olderInstance) testing::WriteFile(first.LockPath(), "12345\n");
    BackgroundTaker taker(first);
    EXPECT_EQ(SingleInstance::Relay(Folder(), c.command, 5000, c.token), Result::Delivered);
    EXPECT_EQ(taker.Taken(1), std::vector<std::string>{c.taken});
  }
  EXPECT_EQ(x11.X11Time(), 81567u);
  EXPECT_EQ(wayland.X11Time(), 0u);
}

TEST_F(SingleInstanceTest, RelayWithNobodyListeningSaysSo) {
  EXPECT_EQ(SingleInstance::Relay(Folder(), "kelv:test", 200), Result::NoListener);
}

TEST_F(SingleInstanceTest, SecondLaunchRelaysAndFirstLaunchTakesTheToken) {
  SingleInstance first(Folder());
  const auto own = first.AcquireOrRelay("kelv:test");
  EXPECT_TRUE(own.first);
  BackgroundTaker taker(first);

  SingleInstance second(Folder());
  const auto outcome = second.AcquireOrRelay("kelv:open:https://x/:token");
  EXPECT_FALSE(outcome.first);
  EXPECT_TRUE(outcome.relayed);
  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(taker.Taken(1), std::vector<std::string>{"kelv:open:https://x/:token"});

  // A launch without a command asks the running instance to come to the front.
  SingleInstance third(Folder());
  const auto empty = third.AcquireOrRelay("");
  EXPECT_FALSE(empty.first);
  EXPECT_TRUE(empty.relayed);
  EXPECT_FALSE(empty.failed);
  EXPECT_EQ(taker.Taken(2), (std::vector<std::string>{"kelv:open:https://x/:token", ""}));
}

TEST_F(SingleInstanceTest, ConcurrentLaunchesEndWithOneInstanceAndEveryCommand) {
  constexpr int kLaunches = 12;
  std::vector<std::unique_ptr<SingleInstance>> instances;
  for (int i = 0; i < kLaunches; ++i)
    instances.push_back(std::make_unique<SingleInstance>(Folder()));

  std::vector<std::future<SingleInstance::LaunchOutcome>> launches;
  for (int i = 0; i < kLaunches; ++i) {
    launches.push_back(std::async(std::launch::async, [&, i] {
      return instances[i]->AcquireOrRelay("kelv:test:" + std::to_string(i), 5000);
    }));
  }
  // Whoever became first starts reading as soon as its launch returns; the others are
  // still waiting for their acknowledgement then.
  std::unique_ptr<BackgroundTaker> taker;
  std::vector<std::optional<SingleInstance::LaunchOutcome>> outcomes(kLaunches);
  int firsts = 0;
  std::set<std::string> expected;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int done = 0;
  while (done < kLaunches && std::chrono::steady_clock::now() < deadline) {
    for (int i = 0; i < kLaunches; ++i) {
      if (outcomes[i] ||
          launches[i].wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        continue;
      }
      outcomes[i] = launches[i].get();
      ++done;
      EXPECT_FALSE(outcomes[i]->failed) << i;
      if (outcomes[i]->first) {
        ++firsts;
        if (!taker) taker = std::make_unique<BackgroundTaker>(*instances[i]);
      } else {
        EXPECT_TRUE(outcomes[i]->relayed) << i;
        expected.insert("kelv:test:" + std::to_string(i));
      }
    }
  }
  ASSERT_EQ(done, kLaunches);
  ASSERT_TRUE(taker);
  EXPECT_EQ(firsts, 1);
  const std::vector<std::string> taken = taker->Taken(expected.size());
  EXPECT_EQ(std::set<std::string>(taken.begin(), taken.end()), expected);
  EXPECT_EQ(taken.size(), expected.size()) << "no command twice";
}

TEST_F(SingleInstanceTest, UnacknowledgedRelayFailsAfterTheTimeout) {
  SingleInstance first(Folder());
  ASSERT_TRUE(first.Acquire());  // holds the token but never reads
  SingleInstance second(Folder());
  const auto started = std::chrono::steady_clock::now();
  const auto outcome = second.AcquireOrRelay("kelv:test", 300);
  EXPECT_FALSE(outcome.first);
  EXPECT_FALSE(outcome.relayed);
  EXPECT_TRUE(outcome.failed);
  EXPECT_FALSE(second.LastError().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(SingleInstanceTest, OversizedRelayFromAStrangerIsDropped) {
  SingleInstance first(Folder());
  ASSERT_TRUE(first.Acquire());
  const int fd = RawSocket(first.SocketPath(), false);
  ASSERT_GE(fd, 0);
  const std::string big(5000, 'k');
  ASSERT_EQ(::send(fd, big.data(), big.size(), MSG_NOSIGNAL), static_cast<ssize_t>(big.size()));
  ::shutdown(fd, SHUT_WR);
  EXPECT_TRUE(TakeUntil(first, 1, 300).empty());
  char answer = 0;
  EXPECT_EQ(::recv(fd, &answer, 1, 0), 1);
  EXPECT_EQ(answer, '0') << "refused, not acknowledged";
  ::close(fd);
}

TEST_F(SingleInstanceTest, FolderOthersCanEnterIsRefused) {
  fs::create_directories(Folder());
  fs::permissions(
      Folder(), fs::owner_all | fs::group_read | fs::group_exe | fs::others_read | fs::others_exe);
  SingleInstance first(Folder());
  EXPECT_FALSE(first.Acquire());
  EXPECT_FALSE(first.LastError().empty());
  const auto outcome = first.AcquireOrRelay("kelv:test", 200);
  EXPECT_TRUE(outcome.failed);
  EXPECT_TRUE(outcome.folderUnusable) << "the folder is the reason, not a running instance";
  EXPECT_NE(first.LastError().find("mode 0755"), std::string::npos) << first.LastError();
}

TEST_F(SingleInstanceTest, DefaultFolderFollowsTheRuntimeDirectory) {
  {
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.path().string());
    EXPECT_EQ(SingleInstance::DefaultFolder(), dir_.path());
  }
  {
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", "");
    const fs::path fallback = SingleInstance::DefaultFolder();
    EXPECT_TRUE(fallback.is_absolute());
    EXPECT_EQ(fallback.filename().string(), "hopwell-" + std::to_string(::getuid()));
  }
  {
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", "relative/dir");
    EXPECT_NE(SingleInstance::DefaultFolder(), fs::path("relative/dir"));
  }
}

}  // namespace
}  // namespace hopwell
