#include "shell/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <boost/filesystem/operations.hpp>

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// The same names in every instance of the product.
const char* const kLockName = "Kelv_KelvoryHopwell_InstanceControl.lock";
const char* const kSocketName = "Kelv_KelvoryHopwell_ExecuteCommand.sock";
const char kAck = '1';
const char kRefused = '0';
// The lock file's second line when the holder reads a startup token after the command (the
// command, a zero byte, then EncodeStartupToken). Older versions take every byte as the
// command, so a sender adds the token only when it finds this line.
const char* const kTakesTokens = "startup-token";
// A relay's bytes after the command at most: the zero byte and the longest token text.
constexpr std::size_t kMaxTokenBytes = 1 + 32 + StartupToken::kMaxBytes;

// Closes a descriptor on every path.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// The address of a socket file. A path too long for sun_path is reached through the
// folder's descriptor (/proc/self/fd/N/name), which the kernel resolves the same way; the
// descriptor stays open as long as the address is in use.
class SocketAddress {
 public:
  SocketAddress(const fs::path& folder, const char* name) {
    std::memset(&address_, 0, sizeof(address_));
    address_.sun_family = AF_UNIX;
    std::string text = (folder / name).native();
    if (text.size() >= sizeof(address_.sun_path)) {
      folderFd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (folderFd_ < 0) return;
      text = "/proc/self/fd/" + std::to_string(folderFd_) + "/" + name;
      if (text.size() >= sizeof(address_.sun_path)) return;
    }
    std::memcpy(address_.sun_path, text.c_str(), text.size() + 1);
    valid_ = true;
  }
  ~SocketAddress() {
    if (folderFd_ >= 0) ::close(folderFd_);
  }
  SocketAddress(const SocketAddress&) = delete;
  SocketAddress& operator=(const SocketAddress&) = delete;

  bool valid() const { return valid_; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t size() const { return sizeof(address_); }

 private:
  sockaddr_un address_{};
  int folderFd_ = -1;
  bool valid_ = false;
};

void SetTimeouts(int fd, int milliseconds) {
  timeval timeout{};
  timeout.tv_sec = milliseconds / 1000;
  timeout.tv_usec = (milliseconds % 1000) * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// What keeps `folder` from being one only this user can enter (not a link, owned by the
// user, no access for others); empty when nothing does.
std::string PrivateFolderProblem(const fs::path& folder) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return ErrnoText("cannot inspect " + folder.string());
  if (!S_ISDIR(info.st_mode)) return folder.string() + " is not a folder";
  if (info.st_uid != ::getuid()) {
    return folder.string() + " belongs to user " + std::to_string(info.st_uid) +
           ", not to this user";
  }
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return folder.string() + " is open to other users (mode " + mode + ", needs 0700)";
  }
  return {};
}

}  // namespace

SingleInstance::SingleInstance(fs::path folder) : folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
  Release();
}

void SingleInstance::Release() {
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    // Still holding the token, so the socket is ours to remove.
    ::unlink(SocketPath().c_str());
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

fs::path SingleInstance::DefaultFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    const fs::path folder(runtime);
    boost::system::error_code error;
    if (folder.is_absolute() && fs::is_directory(folder, error)) return folder;
  }
  boost::system::error_code error;
  fs::path temp = fs::temp_directory_path(error);
  if (error) temp = "/tmp";
  return temp / ("hopwell-" + std::to_string(::getuid()));
}

fs::path SingleInstance::LockPath() const {
  return folder_ / kLockName;
}
fs::path SingleInstance::SocketPath() const {
  return folder_ / kSocketName;
}

bool SingleInstance::IsRelayable(const std::string& command) {
  return !command.empty() && command.size() <= kMaxRelayBytes;
}

bool SingleInstance::PrepareFolder() {
  if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
    lastError_ = ErrnoText("cannot create " + folder_.string());
    return false;
  }
  // A folder we made ourselves under a shared temp dir must really be private; the
  // session's runtime folder is trusted as the system set it up.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool isRuntime = runtime != nullptr && fs::path(runtime) == folder_;
  if (!isRuntime) {
    lastError_ = PrivateFolderProblem(folder_);
    if (!lastError_.empty()) return false;
  }
  return true;
}

bool SingleInstance::Acquire() {
  lastError_.clear();
  if (IsFirst()) return true;
  if (!PrepareFolder()) return false;
  // Close-on-exec: programs the client starts must not inherit the token.
  ScopedFd lock(::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.get() < 0) {
    lastError_ = ErrnoText("cannot open " + LockPath().string());
    return false;
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) lastError_ = ErrnoText("cannot lock " + LockPath().string());
    return false;
  }
  lockFd_ = lock.release();
  if (!Listen()) {
    ::close(lockFd_);
    lockFd_ = -1;
    return false;
  }
  // For people looking at the folder: which process holds the token; for later launches:
  // that it takes their startup tokens.
  const std::string pid = std::to_string(::getpid()) + "\n" + kTakesTokens + "\n";
  if (::ftruncate(lockFd_, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(lockFd_, pid.data(), pid.size(), 0);
  }
  return true;
}

bool SingleInstance::Listen() {
  const SocketAddress address(folder_, kSocketName);
  if (!address.valid()) {
    lastError_ = "no socket address for " + SocketPath().string();
    return false;
  }
  // A socket left by a crashed instance: we hold the token now, so nobody listens on it.
  ::unlink(SocketPath().c_str());
  ScopedFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (listener.get() < 0) {
    lastError_ = ErrnoText("socket");
    return false;
  }
  const mode_t oldMask = ::umask(0077);
  const int bound = ::bind(listener.get(), address.get(), address.size());
  ::umask(oldMask);
  if (bound != 0 || ::listen(listener.get(), SOMAXCONN) != 0) {
    lastError_ = ErrnoText("cannot listen on " + SocketPath().string());
    return false;
  }
  listenFd_ = listener.release();
  return true;
}

bool SingleInstance::TakesTokens(const fs::path& folder) {
  ScopedFd lock(::open((folder / kLockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  char text[64] = {};
  const ssize_t got = lock.get() < 0 ? -1 : ::pread(lock.get(), text, sizeof(text) - 1, 0);
  return got > 0 && std::strstr(text, (std::string("\n") + kTakesTokens + "\n").c_str()) != nullptr;
}

std::string SingleInstance::ReadRelay(int connection) {
  std::string command;
  char buffer[1024];
  while (command.size() <= kMaxRelayBytes + kMaxTokenBytes) {
    const ssize_t got = ::recv(connection, buffer, sizeof(buffer), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {};  // timed out or broken: the sender retries
    if (got == 0) return command;
    command.append(buffer, static_cast<std::size_t>(got));
  }
  return command;  // oversized; the caller refuses it
}

std::vector<SingleInstance::Relayed> SingleInstance::TakeRelays() {
  std::vector<Relayed> commands;
  if (listenFd_ < 0) return commands;
  for (;;) {
    ScopedFd connection(::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;  // EAGAIN: nothing more pending
    }
    ucred peer{};
    socklen_t peerSize = sizeof(peer);
    if (::getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 ||
        peer.uid != ::getuid()) {
      HW_LOG(log_, warning) << "  Relay from another user refused";
      continue;
    }
    SetTimeouts(connection.get(), 2000);
    Relayed relayed;
    relayed.command = ReadRelay(connection.get());
    if (const std::size_t end = relayed.command.find('\0'); end != std::string::npos) {
      relayed.token = DecodeStartupToken(std::string_view(relayed.command).substr(end + 1));
      relayed.command.resize(end);
    }
    if (relayed.command.size() > kMaxRelayBytes) {
      HW_LOG(log_, warning) << "  Relay of " << relayed.command.size() << " bytes refused";
      SendAll(connection.get(), &kRefused, 1);
      continue;
    }
    // Acknowledged as soon as it is read: the sender may exit, the command is ours now.
    SendAll(connection.get(), &kAck, 1);
    commands.push_back(std::move(relayed));
  }
  return commands;
}

SingleInstance::RelayResult SingleInstance::Relay(const fs::path& folder,
                                                  const std::string& command,
                                                  int timeoutMilliseconds,
                                                  const StartupToken& token) {
  if (command.size() > kMaxRelayBytes) return RelayResult::NotRelayable;
  std::string message = command;
  if (!token.Empty() && TakesTokens(folder)) message += '\0' + EncodeStartupToken(token);
  const SocketAddress address(folder, kSocketName);
  if (!address.valid()) {
    boost::system::error_code error;
    return fs::exists(folder, error) ? RelayResult::Failed : RelayResult::NoListener;
  }
  ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return RelayResult::Failed;
  SetTimeouts(fd.get(), timeoutMilliseconds);
  if (::connect(fd.get(), address.get(), address.size()) != 0) {
    return (errno == ENOENT || errno == ECONNREFUSED) ? RelayResult::NoListener
                                                      : RelayResult::Failed;
  }
  if (!SendAll(fd.get(), message.data(), message.size())) return RelayResult::Failed;
  ::shutdown(fd.get(), SHUT_WR);
  char answer = 0;
  ssize_t got;
  do {
    got = ::recv(fd.get(), &answer, 1, 0);
  } while (got < 0 && errno == EINTR);
  return (got == 1 && answer == kAck) ? RelayResult::Delivered : RelayResult::Failed;
}

SingleInstance::LaunchOutcome SingleInstance::AcquireOrRelay(const std::string& command,
                                                             int timeoutMilliseconds,
                                                             const StartupToken& token) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  LaunchOutcome outcome;
  for (;;) {
    if (Acquire()) {
      outcome.first = true;
      return outcome;
    }
    if (!lastError_.empty()) {
      outcome.failed = true;
      outcome.folderUnusable = true;
      return outcome;
    }
    if (command.size() > kMaxRelayBytes) return outcome;  // nothing to hand over
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const RelayResult result =
        Relay(folder_, command, static_cast<int>(std::max<std::int64_t>(left.count(), 100)), token);
    if (result == RelayResult::Delivered) {
      outcome.relayed = true;
      return outcome;
    }
    // The running instance has not bound its socket yet, or has just ended: try again.
    if (Clock::now() >= deadline) {
      outcome.failed = true;
      lastError_ = "the running instance did not take the command";
      return outcome;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

}  // namespace hopwell
