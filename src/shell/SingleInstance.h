#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"
#include "shell/StartupToken.h"

namespace hopwell {

// One running client per user session. The instance token is a lock file held with flock
// (the kernel drops it when the process dies, so a crashed instance never blocks the next
// launch); later launches hand their command line over a Unix-domain socket next to it.
class SingleInstance {
 public:
  // A relayed command holds at most this many bytes (the terminating zero of the original
  // 4196-byte shared buffer is not sent).
  static constexpr std::size_t kMaxRelayBytes = 4195;

  // `folder` holds the lock file and the socket; it is created (mode 0700) when missing.
  explicit SingleInstance(boost::filesystem::path folder = DefaultFolder());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // $XDG_RUNTIME_DIR when set and usable, otherwise a 0700 folder of the user's own under
  // the system temporary directory.
  static boost::filesystem::path DefaultFolder();

  // Takes the instance token without waiting. True: this process is the running instance
  // and listens for relays. False: another process holds it (or the folder is unusable,
  // see LastError()).
  bool Acquire();
  bool IsFirst() const { return listenFd_ >= 0; }

  // The listening socket (non-blocking) for an event loop to watch; -1 unless IsFirst().
  int ListenDescriptor() const { return listenFd_; }

  // What one later launch handed over: its command and the startup token it was given.
  struct Relayed {
    std::string command;
    StartupToken token;
  };
  // Accepts every pending connection and returns what they carried, in arrival order. Each
  // sender gets an acknowledgement byte once its command has been read. Oversized relays
  // are dropped; an empty command (a launch without one) asks the running instance to come
  // to the front.
  std::vector<Relayed> TakeRelays();

  // Whether `command` may be relayed at all: not empty and at most kMaxRelayBytes.
  static bool IsRelayable(const std::string& command);

  enum class RelayResult { Delivered, NotRelayable, NoListener, Failed };
  // Sends one command (or an empty one, to bring the running instance to the front) to the
  // instance listening in `folder` and waits (up to `timeoutMilliseconds`) for its
  // acknowledgement. The startup token goes along when the instance takes tokens (it says so
  // in the lock file); an instance of an older version gets the command alone.
  static RelayResult Relay(const boost::filesystem::path& folder, const std::string& command,
                           int timeoutMilliseconds = 5000, const StartupToken& token = {});

  // The second-launch procedure: tries to take the token, otherwise relays, retrying while
  // the running instance is still starting up or has just gone away, until
  // `timeoutMilliseconds` pass. Returns true when this process became the running instance;
  // false when the command (or, for an empty one, the request to come to the front) was
  // handed over, or was too long to relay, with `relayed` telling which. `failed` is set
  // when neither happened in time, `folderUnusable` as well when the folder was the reason
  // (LastError() says what is wrong with it).
  struct LaunchOutcome {
    bool first = false;
    bool relayed = false;
    bool failed = false;
    bool folderUnusable = false;
  };
  LaunchOutcome AcquireOrRelay(const std::string& command, int timeoutMilliseconds = 10000,
                               const StartupToken& token = {});

  // Stops listening, removes the socket and gives the token back (what the destructor does,
  // for exits that skip destructors).
  void Release();

  const std::string& LastError() const { return lastError_; }
  boost::filesystem::path LockPath() const;
  boost::filesystem::path SocketPath() const;

 private:
  bool PrepareFolder();
  bool Listen();
  static bool TakesTokens(const boost::filesystem::path& folder);
  std::string ReadRelay(int connection);

  LogSource log_;
  boost::filesystem::path folder_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::string lastError_;
};

}  // namespace hopwell
