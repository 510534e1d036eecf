#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "common/LogCapture.h"
#include "net/AnswerForLog.h"
#include "net/HttpTestSupport.h"
#include "net/PostBody.h"

namespace hopwell {
namespace {

using namespace std::chrono_literals;
using testing::WireServer;

constexpr auto kIdle = 2s;
constexpr auto kConnect = 2s;
// A case that has not ended by then hangs: the child is killed and the case fails.
constexpr auto kHangDeadline = 25s;
constexpr long kMemoryBoundKb = 64 * 1024;

// A body of `size` bytes that is made up as it is read, so a large upload costs no memory.
class GeneratedBody : public PostBody {
 public:
  explicit GeneratedBody(std::uint64_t size) : PostBody(size) {}
  std::size_t Read(char* buffer, std::size_t capacity) override {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, size_ - delivered_));
    std::memset(buffer, 'u', n);
    Advance(n);
    return n;
  }
};

// A listener whose one-place queue is already taken, so that connecting to it stalls.
class FullListener {
 public:
  FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(queued_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~FullListener() {
    ::close(queued_);
    ::close(listener_);
  }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  bool Ready() const { return port_ != 0; }

 private:
  int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int queued_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int port_ = 0;
};

struct ChildOutcome {
  bool ended = false;
  int exitCode = -1;
  std::chrono::duration<double> elapsed{};
  long peakRssKb = 0;
};

// Runs `body` in a child process and waits for it until the deadline; the peak memory is
// the child's own.
ChildOutcome RunInChild(const std::function<int()>& body) {
  ChildOutcome outcome;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  if (pid < 0) return outcome;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  pollfd wait{pidfd, POLLIN, 0};
  const int timeoutMs = static_cast<int>(std::chrono::milliseconds(kHangDeadline).count());
  outcome.ended = pidfd >= 0 && ::poll(&wait, 1, timeoutMs) == 1;
  if (!outcome.ended) ::kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (pidfd >= 0) ::close(pidfd);
  outcome.elapsed = std::chrono::steady_clock::now() - start;
  outcome.peakRssKb = usage.ru_maxrss;
  if (outcome.ended && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  return outcome;
}

enum class Call { Get, PostUnread, PostString };
enum class Into { Memory, File };

struct HostileCase {
  const char* label;
  Call call;
  std::string target;  // path on the wire server; empty: the full listener
  Into into;
  HttpResult expected;
  const char* logged;  // an error line fragment the case must leave, or null
  bool cut;            // ends by the idle or connect limit
};

// One wire server and one stalled listener for every case.
class HostileServerTest : public ::testing::TestWithParam<HostileCase> {
 protected:
  static void SetUpTestSuite() {
    server_ = new WireServer();
    listener_ = new FullListener();
  }
  static void TearDownTestSuite() {
    delete listener_;
    delete server_;
  }

  // The child's exit code: the result, plus 100 when the expected log line is missing.
  static int Exchange(const HostileCase& c, const std::string& file) {
    auto helper = std::make_shared<HttpHelperCurl>(
        std::vector<std::string>{Md5Hex(server_->Origin()), Md5Hex(listener_->Origin())},
        std::string());
    TransferLimits limits;
    limits.idle = kIdle;
    limits.connect = kConnect;
    helper->SetTransferLimits(limits);
    IHttpHelper& http = *helper;
    const std::string url =
        c.target.empty() ? listener_->Origin() + "/" : server_->Origin() + c.target;
    testing::LogCapture log;
    std::ostringstream memory;
    std::ofstream disk;
    std::ostream* out = &memory;
    if (c.into == Into::File) {
      disk.open(file, std::ios::binary);
      out = &disk;
    }
    HttpResult result = HttpResult::Ok;
    switch (c.call) {
      case Call::Get:
        result = http.Get(url, out);
        break;
      case Call::PostUnread: {
        GeneratedBody body(256ull << 20);
        result = http.Post(url, "application/octet-stream", out, body);
        break;
      }
      case Call::PostString:
        result = http.PostString(url, "text/plain", out, "question");
        break;
    }
    const bool logged = c.logged == nullptr || log.HasFragment("error", c.logged);
    return ToInt(result) + (logged ? 0 : 100);
  }

  static WireServer* server_;
  static FullListener* listener_;
  testing::TempDir dir_;
};

WireServer* HostileServerTest::server_ = nullptr;
FullListener* HostileServerTest::listener_ = nullptr;

TEST_P(HostileServerTest, EndsWithinItsLimitsAndBoundedMemory) {
  ASSERT_TRUE(server_->Running() && listener_->Ready());
  const HostileCase& c = GetParam();
  const std::string file = (dir_ / "answer").string();
  const ChildOutcome outcome = RunInChild([&] { return Exchange(c, file); });

  ASSERT_TRUE(outcome.ended) << "the exchange hung";
  EXPECT_EQ(outcome.exitCode % 100, ToInt(c.expected));
  EXPECT_LT(outcome.exitCode, 100) << "no error line with: " << c.logged;
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
  // Sanitizers' shadow memory makes the client's own footprint unmeasurable.
  EXPECT_LT(outcome.peakRssKb, kMemoryBoundKb);
#endif
  if (c.cut) {
    // Cut by the shortened limits, not by the real ones of 30 and 60 seconds.
    EXPECT_GE(outcome.elapsed, kIdle);
    EXPECT_LT(outcome.elapsed, 20s);
  }
}

constexpr const char* kTimedOut = "Timeout was reached";
constexpr const char* kTooLarge = "The answer is too large: more than 16777216 bytes";
const std::string kGiB = std::to_string(1ull << 30);

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileServerTest,
    ::testing::Values(HostileCase{"ConnectStalls", Call::Get, "", Into::Memory,
                                  HttpResult::SendFailed, kTimedOut, true},
                      HostileCase{"NoAnswer", Call::Get, "/stall", Into::Memory,
                                  HttpResult::SendFailed, kTimedOut, true},
                      HostileCase{"StatusLineOnly", Call::Get, "/status-only", Into::Memory,
                                  HttpResult::ReadFailed, kTimedOut, true},
                      HostileCase{"BodyStops", Call::Get, "/body-stops", Into::File,
                                  HttpResult::ReadFailed, kTimedOut, true},
                      HostileCase{"PostBodyNeverRead", Call::PostUnread, "/unread", Into::Memory,
                                  HttpResult::WriteFailed, kTimedOut, true},
                      HostileCase{"TrickleKeepsMoving", Call::Get, "/trickle?n=10&every=0.4",
                                  Into::Memory, HttpResult::Ok, nullptr, false},
                      HostileCase{"GiBIntoMemory", Call::Get, "/big?n=" + kGiB, Into::Memory,
                                  HttpResult::ReadFailed, kTooLarge, false},
                      HostileCase{"GiBChunkedIntoMemory", Call::Get, "/big?chunked=1&n=" + kGiB,
                                  Into::Memory, HttpResult::ReadFailed, kTooLarge, false},
                      HostileCase{"PostAnswerTooLarge", Call::PostString,
                                  "/big?chunked=1&n=" + kGiB, Into::Memory, HttpResult::ReadFailed,
                                  kTooLarge, false},
                      HostileCase{"FilesAreNotCapped", Call::Get,
                                  "/big?n=" + std::to_string(40 << 20), Into::File, HttpResult::Ok,
                                  nullptr, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(AnswerForLog, CutsAt64KiBWithTheFullSize) {
  struct Row {
    std::size_t size;
    std::size_t shown;
  };
  for (const Row row : {Row{0, 0}, Row{65536, 65536}, Row{65537, 65536}, Row{1 << 24, 65536}}) {
    const std::string answer = testing::Pattern251(row.size);
    const std::string logged = AnswerForLog(answer);
    EXPECT_EQ(logged.substr(0, row.shown), answer.substr(0, row.shown)) << row.size;
    const std::string note = logged.substr(row.shown);
    EXPECT_EQ(note, row.shown == row.size
                        ? ""
                        : "\n[... cut at 65536 of " + std::to_string(row.size) + " bytes]");
  }
}

}  // namespace
}  // namespace hopwell
