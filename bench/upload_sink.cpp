// A minimal platform for the save benchmark on 127.0.0.1: answers the upload permission,
// takes chunk uploads (reading and dropping their bodies) and confirms every check-in. It
// measures the upload phase of each run the same way for every client: from the first
// chunk request's arrival to the last chunk's answer.
//
//   bench_upload_sink PORT              serve until killed; GET /_stats prints and resets
//                                       {"bytes": n, "seconds": s, "requests": k,
//                                        "connections": c}
//   bench_upload_sink PORT --selftest MiB   serve, and post MiB one-MiB chunks from memory
//                                       over one connection; prints the rate in MiB/s
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
  std::mutex lock;
  std::uint64_t bytes = 0;
  std::uint64_t requests = 0;
  std::uint64_t connections = 0;
  Clock::time_point first{};
  Clock::time_point last{};
} stats;

struct Socket {
  int fd = -1;
  explicit Socket(int f) : fd(f) {}
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
};

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void Answer(int fd, const std::string& body) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n";
  SendAll(fd, (head + body).data(), head.size() + body.size());
}

void Serve(int fd) {
  Socket socket(fd);
  {
    std::lock_guard guard(stats.lock);
    ++stats.connections;
  }
  std::vector<char> buffer(1 << 20);
  std::string pending;
  for (;;) {
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
      if (got <= 0) return;
      pending.append(buffer.data(), static_cast<std::size_t>(got));
    }
    const Clock::time_point start = Clock::now();
    const std::string head = pending.substr(0, headEnd);
    pending.erase(0, headEnd + 4);
    std::uint64_t length = 0;
    for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
      const std::size_t at = head.find(name);
      if (at != std::string::npos) length = std::strtoull(head.c_str() + at + 17, nullptr, 10);
    }
    std::uint64_t have = std::min<std::uint64_t>(length, pending.size());
    pending.erase(0, have);
    while (have < length) {
      const ssize_t got =
          ::recv(fd, buffer.data(), std::min<std::uint64_t>(buffer.size(), length - have), 0);
      if (got <= 0) return;
      have += static_cast<std::uint64_t>(got);
    }
    const std::string target = head.substr(0, head.find("\r\n"));
    if (target.find(" /_stats") != std::string::npos) {
      std::lock_guard guard(stats.lock);
      const double seconds = std::chrono::duration<double>(stats.last - stats.first).count();
      Answer(fd, "{\"bytes\": " + std::to_string(stats.bytes) + ", \"seconds\": " +
                     std::to_string(seconds) + ", \"requests\": " + std::to_string(stats.requests) +
                     ", \"connections\": " + std::to_string(stats.connections - 1) + "}\n");
      stats.bytes = stats.requests = stats.connections = 0;
      stats.first = stats.last = {};
      continue;
    }
    if (target.find("/api/v2/ext/upload") != std::string::npos) {
      Answer(fd, "{\"status\": \"ok\", \"message\": \"UPLOAD_FILE_SUCCESS\"}");
      std::lock_guard guard(stats.lock);
      if (stats.requests == 0) stats.first = start;
      ++stats.requests;
      stats.bytes += length;
      stats.last = Clock::now();
    } else if (target.find("/api/v2/ext/token/can_upload") != std::string::npos) {
      Answer(fd, "{\"canUpload\": true}");
    } else {
      Answer(fd, "{\"status\": \"CHECKIN_FILES_SUCCESS\"}");
    }
  }
}

// Posts chunks from memory as fast as one connection allows.
double SelfTest(int port, int chunks) {
  Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 0;
  const std::string body(1 << 20, 'x');
  std::vector<char> answer(4096);
  const Clock::time_point start = Clock::now();
  for (int i = 1; i <= chunks; ++i) {
    const std::string head =
        "POST /api/v2/ext/upload?n=self_" + std::to_string(i) +
        ".zip HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n";
    if (!SendAll(socket.fd, head.data(), head.size()) ||
        !SendAll(socket.fd, body.data(), body.size()) ||
        ::recv(socket.fd, answer.data(), answer.size(), 0) <= 0) {
      return 0;
    }
  }
  return chunks / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [--selftest MiB]\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
  const int on = 1;
  ::setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.fd, 16) != 0) {
    std::perror("bind");
    return 1;
  }
  std::thread([&listener] {
    for (;;) {
      const int fd = ::accept(listener.fd, nullptr, nullptr);
      if (fd < 0) return;
      std::thread(Serve, fd).detach();
    }
  }).detach();
  if (argc >= 4 && std::strcmp(argv[2], "--selftest") == 0) {
    std::printf("%.1f\n", SelfTest(port, std::atoi(argv[3])));
    return 0;
  }
  std::fflush(stdout);
  for (;;) ::pause();
}
