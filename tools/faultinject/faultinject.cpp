// faultinject: runs a program and makes exactly one of its system calls fail, or kills the
// program at the entry of that call.
//
//   faultinject --call GROUP --errno NAME --nth N [--path P]... [--report FILE] -- PROGRAM ARGS
//   faultinject --call GROUP --kill --nth N [--path P]... [--report FILE] -- PROGRAM ARGS
//   faultinject --count [--path P]... [--trace FILE] [--report FILE] -- PROGRAM ARGS
//
// The calls of a group (below) are counted over every thread of PROGRAM's process, in the
// order the threads reach them, and the Nth one returns -1 with the given errno without
// running. strace's inject= counts per thread, so in a program whose threads all log or that
// zips on several threads at once it fails one call in each thread that reaches N; here the
// count is one for the whole process. With --path, only calls on those files (or on
// anything below those folders) count: the path argument, or the file behind the
// descriptor. With --kill the Nth call does not run at all: the whole thread group of
// PROGRAM gets SIGKILL while that thread waits at the call's entry, as a crash or a power
// cut at that point would leave things. --count runs PROGRAM untouched and reports how many
// calls of every group it made; --trace writes one JSON line per call on a file (open for
// writing, write, rename, unlink, mkdir, fsync; an open tells whether its file existed and
// whether it truncates it) in the order they were made. Processes that
// PROGRAM starts are followed (they inherit the filter that stops the calls) but never
// counted. The group "wopen" holds the opens of the group "open" that may write or create
// a file.
//
// The report is one JSON object: {"injected": bool, "call", "syscall", "path", "tid",
// "counts": {group: n}, "exit_code" | "signal", "killed": bool}. The exit status is
// PROGRAM's, or 128 + the signal that ended it. x86-64 Linux only.

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#if !defined(__x86_64__)
#error "faultinject reads x86-64 registers"
#endif

namespace {

enum class Arg { None, Path, Fd, AtPath, TwoPaths, TwoAtPaths };

struct Syscall {
  long number;
  const char* name;
  const char* group;  // the group for files; sockets go to "send" or "recv" (see Group)
  Arg arg;
};

// Where the file name is: a path argument, a descriptor, or a directory descriptor and a path.
const Syscall kSyscalls[] = {
    {SYS_open, "open", "open", Arg::Path},
    {SYS_creat, "creat", "open", Arg::Path},
    {SYS_openat, "openat", "open", Arg::AtPath},
    {SYS_openat2, "openat2", "open", Arg::AtPath},
    {SYS_read, "read", "read", Arg::Fd},
    {SYS_pread64, "pread64", "read", Arg::Fd},
    {SYS_readv, "readv", "read", Arg::Fd},
    {SYS_preadv, "preadv", "read", Arg::Fd},
    {SYS_preadv2, "preadv2", "read", Arg::Fd},
    {SYS_write, "write", "write", Arg::Fd},
    {SYS_pwrite64, "pwrite64", "write", Arg::Fd},
    {SYS_writev, "writev", "write", Arg::Fd},
    {SYS_pwritev, "pwritev", "write", Arg::Fd},
    {SYS_pwritev2, "pwritev2", "write", Arg::Fd},
    {SYS_rename, "rename", "rename", Arg::TwoPaths},
    {SYS_renameat, "renameat", "rename", Arg::TwoAtPaths},
    {SYS_renameat2, "renameat2", "rename", Arg::TwoAtPaths},
    {SYS_unlink, "unlink", "unlink", Arg::Path},
    {SYS_rmdir, "rmdir", "unlink", Arg::Path},
    {SYS_unlinkat, "unlinkat", "unlink", Arg::AtPath},
    {SYS_mkdir, "mkdir", "mkdir", Arg::Path},
    {SYS_mkdirat, "mkdirat", "mkdir", Arg::AtPath},
    {SYS_fsync, "fsync", "fsync", Arg::Fd},
    {SYS_fdatasync, "fdatasync", "fsync", Arg::Fd},
    {SYS_stat, "stat", "stat", Arg::Path},
    {SYS_lstat, "lstat", "stat", Arg::Path},
    {SYS_fstat, "fstat", "stat", Arg::Fd},
    {SYS_newfstatat, "newfstatat", "stat", Arg::AtPath},
    {SYS_statx, "statx", "stat", Arg::AtPath},
    {SYS_getdents, "getdents", "getdents", Arg::Fd},
    {SYS_getdents64, "getdents64", "getdents", Arg::Fd},
    {SYS_connect, "connect", "connect", Arg::Fd},
    {SYS_sendto, "sendto", "send", Arg::Fd},
    {SYS_sendmsg, "sendmsg", "send", Arg::Fd},
    {SYS_sendmmsg, "sendmmsg", "send", Arg::Fd},
    {SYS_recvfrom, "recvfrom", "recv", Arg::Fd},
    {SYS_recvmsg, "recvmsg", "recv", Arg::Fd},
    {SYS_recvmmsg, "recvmmsg", "recv", Arg::Fd},
    {SYS_close, "close", "close", Arg::Fd},
};

const char* const kGroups[] = {"open",    "wopen", "read",  "write", "rename",
                               "unlink",  "mkdir", "fsync", "stat",  "getdents",
                               "connect", "send",  "recv",  "close"};

// The groups a trace records.
bool Traced(const std::string& group) {
  return group == "write" || group == "rename" || group == "unlink" || group == "mkdir" ||
         group == "fsync";
}

const std::map<std::string, int> kErrnos = {{"EIO", EIO},
                                            {"ENOSPC", ENOSPC},
                                            {"EACCES", EACCES},
                                            {"EMFILE", EMFILE},
                                            {"ECONNRESET", ECONNRESET},
                                            {"EPERM", EPERM},
                                            {"ENOENT", ENOENT},
                                            {"EINTR", EINTR},
                                            {"EAGAIN", EAGAIN},
                                            {"ENOMEM", ENOMEM},
                                            {"EROFS", EROFS},
                                            {"EDQUOT", EDQUOT},
                                            {"ECONNREFUSED", ECONNREFUSED},
                                            {"ETIMEDOUT", ETIMEDOUT},
                                            {"EPIPE", EPIPE}};

struct Options {
  bool count = false;
  bool kill = false;
  std::string group;
  int error = 0;
  std::string errorName;
  long nth = 0;
  std::vector<std::string> paths;
  std::string report;
  std::string trace;
  std::vector<char*> program;
};

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr,
               "faultinject: %s\n"
               "usage: faultinject --call GROUP (--errno NAME | --kill) --nth N [--path P]..."
               " [--report FILE] -- PROGRAM [ARGS...]\n"
               "       faultinject --count [--path P]... [--trace FILE] [--report FILE]"
               " -- PROGRAM [ARGS...]\n"
               "groups: open wopen read write rename unlink mkdir fsync stat getdents connect "
               "send recv close\n",
               why);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
      return argv[++i];
    };
    if (arg == "--") {
      ++i;
      break;
    } else if (arg == "--count") {
      options.count = true;
    } else if (arg == "--kill") {
      options.kill = true;
    } else if (arg == "--trace") {
      options.trace = value();
    } else if (arg == "--call") {
      options.group = value();
    } else if (arg == "--errno") {
      options.errorName = value();
      const auto found = kErrnos.find(options.errorName);
      if (found == kErrnos.end()) Usage(("unknown errno " + options.errorName).c_str());
      options.error = found->second;
    } else if (arg == "--nth") {
      options.nth = std::strtol(value().c_str(), nullptr, 10);
    } else if (arg == "--path") {
      std::string path = value();
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      options.paths.push_back(path);
    } else if (arg == "--report") {
      options.report = value();
    } else {
      Usage(("unknown option " + arg).c_str());
    }
  }
  for (; i < argc; ++i) options.program.push_back(argv[i]);
  options.program.push_back(nullptr);
  if (options.program.size() < 2) Usage("no program");
  if (!options.count) {
    bool known = false;
    for (const char* group : kGroups) known = known || options.group == group;
    if (!known) Usage("unknown or missing --call group");
    if ((options.error == 0) == !options.kill) Usage("give one of --errno and --kill");
    if (options.nth < 1) Usage("--nth must be 1 or more");
  }
  return options;
}

// The calls the filter hands to us: all of a group's (for --call), or all we know (--count).
std::vector<long> WatchedNumbers(const Options& options) {
  std::vector<long> numbers;
  for (const Syscall& call : kSyscalls) {
    const bool socketSide = options.group == "send" || options.group == "recv";
    const bool wanted =
        options.count || options.group == call.group ||
        (options.group == "wopen" && std::strcmp(call.group, "open") == 0) ||
        // A socket may also be read or written with read and write.
        (socketSide && call.arg == Arg::Fd &&
         (std::strcmp(call.group, options.group == "send" ? "write" : "read") == 0));
    if (wanted) numbers.push_back(call.number);
  }
  return numbers;
}

// In the child, before exec: stop the watched calls for the tracer, let everything else run.
void InstallFilter(const std::vector<long>& numbers) {
  std::vector<sock_filter> program;
  program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
  program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const auto remaining = static_cast<unsigned char>(numbers.size() - i);
    // Equal: jump to the TRACE return after the remaining tests and the ALLOW return.
    program.push_back(
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(numbers[i]), remaining, 0));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE));
  sock_fprog fprog{static_cast<unsigned short>(program.size()), program.data()};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) != 0) {
    std::perror("faultinject: seccomp");
    ::_exit(126);
  }
}

std::string ReadLink(const std::string& link) {
  char buffer[4096];
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// A NUL-terminated string of the tracee, read page by page (a string may end just before an
// unmapped page).
std::string ReadString(pid_t tid, unsigned long long address) {
  std::string text;
  while (text.size() < 4096) {
    char chunk[256];
    const std::size_t toPageEnd = 4096 - (address % 4096);
    const std::size_t want = std::min(sizeof chunk, toPageEnd);
    iovec local{chunk, want};
    iovec remote{reinterpret_cast<void*>(address), want};
    const ssize_t got = ::process_vm_readv(tid, &local, 1, &remote, 1, 0);
    if (got <= 0) break;
    const void* end = std::memchr(chunk, '\0', static_cast<std::size_t>(got));
    if (end != nullptr) {
      text.append(chunk, static_cast<std::size_t>(static_cast<const char*>(end) - chunk));
      return text;
    }
    text.append(chunk, static_cast<std::size_t>(got));
    address += static_cast<unsigned long long>(got);
  }
  return text;
}

std::string FdPath(pid_t tid, long long fd) {
  if (fd == AT_FDCWD) return ReadLink("/proc/" + std::to_string(tid) + "/cwd");
  return ReadLink("/proc/" + std::to_string(tid) + "/fd/" + std::to_string(fd));
}

std::string AtPath(pid_t tid, long long dirfd, unsigned long long address) {
  std::string path = ReadString(tid, address);
  if (path.empty()) return FdPath(tid, dirfd);  // AT_EMPTY_PATH: the descriptor itself
  if (path.front() == '/') return path;
  return FdPath(tid, dirfd) + "/" + path;
}

bool UnderAny(const std::string& path, const std::vector<std::string>& roots) {
  for (const std::string& root : roots) {
    if (path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                         (path[root.size()] == '/' || root == "/"))) {
      return true;
    }
  }
  return false;
}

struct CallSite {
  const Syscall* call = nullptr;
  std::string group;
  std::vector<std::string> paths;
  bool writeOpen = false;  // an open that may write or create
  bool truncates = false;  // an open with O_TRUNC (or creat)
};

bool WritesOrCreates(unsigned long long flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
}

// The flags of openat2's struct open_how (its first member).
unsigned long long OpenHowFlags(pid_t tid, unsigned long long address) {
  open_how how{};
  iovec local{&how, sizeof how.flags};
  iovec remote{reinterpret_cast<void*>(address), sizeof how.flags};
  return ::process_vm_readv(tid, &local, 1, &remote, 1, 0) == sizeof how.flags ? how.flags : 0;
}

// What a stopped call is: its group (a descriptor of a socket turns read and write into
// recv and send) and the files it names.
CallSite Describe(pid_t tid, const user_regs_struct& regs) {
  CallSite site;
  for (const Syscall& call : kSyscalls) {
    if (call.number == static_cast<long>(regs.orig_rax)) site.call = &call;
  }
  if (site.call == nullptr) return site;
  site.group = site.call->group;
  const auto a0 = regs.rdi, a1 = regs.rsi, a2 = regs.rdx, a3 = regs.r10;
  switch (site.call->arg) {
    case Arg::Path:
      site.paths.push_back(ReadString(tid, a0));
      break;
    case Arg::TwoPaths:
      site.paths = {ReadString(tid, a0), ReadString(tid, a1)};
      break;
    case Arg::AtPath:
      site.paths.push_back(AtPath(tid, static_cast<int>(a0), a1));
      break;
    case Arg::TwoAtPaths:
      site.paths = {AtPath(tid, static_cast<int>(a0), a1), AtPath(tid, static_cast<int>(a2), a3)};
      break;
    case Arg::Fd: {
      const std::string target = FdPath(tid, static_cast<int>(a0));
      const bool socket = target.rfind("socket:", 0) == 0;
      if (site.group == "read" || site.group == "write") {
        if (socket) {
          site.group = site.group == "read" ? "recv" : "send";
        } else if (target.empty() || target.front() != '/') {
          site.group.clear();  // pipes, event descriptors: not files, not the network
        }
      }
      if (!target.empty() && target.front() == '/') site.paths.push_back(target);
      break;
    }
    case Arg::None:
      break;
  }
  switch (site.call->number) {
    case SYS_open:
      site.writeOpen = WritesOrCreates(a1);
      site.truncates = (a1 & O_TRUNC) != 0;
      break;
    case SYS_creat:
      site.writeOpen = site.truncates = true;
      break;
    case SYS_openat:
      site.writeOpen = WritesOrCreates(a2);
      site.truncates = (a2 & O_TRUNC) != 0;
      break;
    case SYS_openat2: {
      const unsigned long long flags = OpenHowFlags(tid, a2);
      site.writeOpen = WritesOrCreates(flags);
      site.truncates = (flags & O_TRUNC) != 0;
      break;
    }
    default:
      break;
  }
  return site;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += c;
    }
  }
  return out;
}

struct Tracer {
  Options options;
  pid_t root = 0;
  std::set<pid_t> seen;
  std::unordered_map<pid_t, bool> inRoot;  // tid -> belongs to the root process
  std::map<std::string, long> counts;
  long matched = 0;
  bool injected = false;
  std::string injectedSyscall;
  std::string injectedPath;
  pid_t injectedTid = 0;
  int exitCode = -1;
  int exitSignal = 0;
  std::FILE* trace = nullptr;
  long traced = 0;

  bool InRootProcess(pid_t tid) {
    const auto found = inRoot.find(tid);
    if (found != inRoot.end()) return found->second;
    bool result = tid == root;
    std::ifstream status("/proc/" + std::to_string(tid) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Tgid:", 0) == 0) {
        result = std::strtol(line.c_str() + 5, nullptr, 10) == root;
        break;
      }
    }
    inRoot[tid] = result;
    return result;
  }

  // A call stopped by the filter: count it, and make it fail when it is the one.
  void OnCall(pid_t tid) {
    if (!InRootProcess(tid)) return;
    user_regs_struct regs{};
    if (::ptrace(PTRACE_GETREGS, tid, nullptr, &regs) != 0) return;
    const CallSite site = Describe(tid, regs);
    if (site.group.empty()) return;
    bool onPath = options.paths.empty();
    for (const std::string& path : site.paths) onPath = onPath || UnderAny(path, options.paths);
    if (!onPath) return;
    ++counts[site.group];
    if (site.writeOpen) ++counts["wopen"];
    if (trace != nullptr) Trace(tid, site);
    const bool matches =
        site.group == options.group || (options.group == "wopen" && site.writeOpen);
    if (options.count || injected || !matches) return;
    if (++matched != options.nth) return;
    // -1 skips the call; the return register then holds its result.
    regs.orig_rax = static_cast<unsigned long long>(-1LL);
    regs.rax = static_cast<unsigned long long>(
        -static_cast<long long>(options.kill ? EINTR : options.error));
    if (::ptrace(PTRACE_SETREGS, tid, nullptr, &regs) != 0) return;
    // Every thread of the process dies; this one never runs the call (a thread stopped at a
    // call's entry with a fatal signal pending skips it).
    if (options.kill) ::kill(root, SIGKILL);
    injected = true;
    injectedSyscall = site.call->name;
    injectedPath = site.paths.empty() ? std::string() : site.paths.front();
    injectedTid = tid;
  }

  // One line per call of the traced groups: what it was, on which files, and for a rename
  // whether something was already at its target.
  void Trace(pid_t tid, const CallSite& site) {
    const bool open = site.call->number == SYS_open || site.call->number == SYS_creat ||
                      site.call->number == SYS_openat || site.call->number == SYS_openat2;
    if (!(Traced(site.group) || (open && site.writeOpen))) return;
    std::fprintf(trace, "{\"n\": %ld, \"tid\": %d, \"group\": \"%s\", \"syscall\": \"%s\"",
                 ++traced, tid, open ? "wopen" : site.group.c_str(), site.call->name);
    std::fprintf(trace, ", \"paths\": [");
    for (std::size_t i = 0; i < site.paths.size(); ++i) {
      std::fprintf(trace, "%s\"%s\"", i == 0 ? "" : ", ", Escape(site.paths[i]).c_str());
    }
    std::fprintf(trace, "]");
    if (open && !site.paths.empty()) {
      struct stat target {};
      std::fprintf(trace, ", \"existed\": %s, \"truncates\": %s",
                   ::lstat(site.paths[0].c_str(), &target) == 0 ? "true" : "false",
                   site.truncates ? "true" : "false");
    }
    if (site.group == "rename" && site.paths.size() == 2) {
      struct stat target {};
      const bool exists = ::lstat(site.paths[1].c_str(), &target) == 0;
      std::fprintf(trace, ", \"target_existed\": %s, \"target_kind\": \"%s\"",
                   exists ? "true" : "false",
                   !exists                   ? ""
                   : S_ISDIR(target.st_mode) ? "folder"
                                             : "file");
    }
    std::fprintf(trace, "}\n");
  }

  void WriteReport() const {
    if (options.report.empty()) return;
    std::FILE* out = std::fopen(options.report.c_str(), "w");
    if (out == nullptr) return;
    std::fprintf(out, "{\"injected\": %s, \"call\": \"%s\", \"errno\": \"%s\", \"nth\": %ld",
                 injected ? "true" : "false", Escape(options.group).c_str(),
                 Escape(options.errorName).c_str(), options.nth);
    std::fprintf(out, ", \"syscall\": \"%s\", \"path\": \"%s\", \"tid\": %d",
                 Escape(injectedSyscall).c_str(), Escape(injectedPath).c_str(), injectedTid);
    std::fprintf(out, ", \"counts\": {");
    bool first = true;
    for (const char* group : kGroups) {
      const auto found = counts.find(group);
      std::fprintf(out, "%s\"%s\": %ld", first ? "" : ", ", group,
                   found == counts.end() ? 0L : found->second);
      first = false;
    }
    std::fprintf(out, "}, \"exit_code\": %d, \"signal\": %d, \"killed\": %s}\n", exitCode,
                 exitSignal, options.kill && injected ? "true" : "false");
    std::fclose(out);
  }

  int Run() {
    const std::vector<long> numbers = WatchedNumbers(options);
    if (!options.trace.empty()) {
      trace = std::fopen(options.trace.c_str(), "w");
      if (trace == nullptr) {
        std::perror("faultinject: --trace");
        return 125;
      }
    }
    root = ::fork();
    if (root < 0) {
      std::perror("faultinject: fork");
      return 125;
    }
    if (root == 0) {
      ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
      ::raise(SIGSTOP);
      InstallFilter(numbers);
      ::execvp(options.program[0], options.program.data());
      std::fprintf(stderr, "faultinject: cannot run %s: %s\n", options.program[0],
                   std::strerror(errno));
      ::_exit(127);
    }
    int status = 0;
    if (::waitpid(root, &status, 0) != root || !WIFSTOPPED(status)) {
      std::fprintf(stderr, "faultinject: the child did not stop for tracing\n");
      return 125;
    }
    seen.insert(root);
    const long traceOptions = PTRACE_O_TRACESECCOMP | PTRACE_O_TRACECLONE | PTRACE_O_TRACEFORK |
                              PTRACE_O_TRACEVFORK | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
    if (::ptrace(PTRACE_SETOPTIONS, root, nullptr, traceOptions) != 0) {
      std::perror("faultinject: PTRACE_SETOPTIONS");
      ::kill(root, SIGKILL);
      return 125;
    }
    ::ptrace(PTRACE_CONT, root, nullptr, nullptr);

    for (;;) {
      const pid_t tid = ::waitpid(-1, &status, __WALL);
      if (tid < 0) {
        if (errno == EINTR) continue;
        break;  // ECHILD: every tracee has ended
      }
      if (WIFEXITED(status) || WIFSIGNALED(status)) {
        if (tid == root) {
          exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          exitSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
        seen.erase(tid);
        inRoot.erase(tid);
        continue;
      }
      if (!WIFSTOPPED(status)) continue;
      const int signal = WSTOPSIG(status);
      const int event = status >> 16;
      int deliver = 0;
      if (seen.insert(tid).second && signal == SIGSTOP && event == 0) {
        // The stop every newly followed thread or process starts with.
      } else if (signal == SIGTRAP && event == PTRACE_EVENT_SECCOMP) {
        OnCall(tid);
      } else if (signal == SIGTRAP && event != 0) {
        // Clone, fork, exec: the new tracee announces itself with its own first stop.
      } else {
        deliver = signal;
      }
      ::ptrace(PTRACE_CONT, tid, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
    }
    if (trace != nullptr) std::fclose(trace);
    WriteReport();
    if (exitSignal != 0) return 128 + exitSignal;
    return exitCode < 0 ? 125 : exitCode;
  }
};

}  // namespace

int main(int argc, char** argv) {
  Tracer tracer;
  tracer.options = ParseOptions(argc, argv);
  // A harness that gives up on a hanging run kills us; PTRACE_O_EXITKILL then ends the program.
  std::signal(SIGPIPE, SIG_IGN);
  return tracer.Run();
}
