#include "shell/CrashReport.h"

#include <elf.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "Deployment.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

extern char** environ;

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kReturnAddressesHeading = "Return addresses:";
const char* const kMemoryMapHeading = "Memory map:";

std::optional<std::uintptr_t> ParseHex(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::size_t used = 0;
  try {
    const unsigned long long value = std::stoull(text, &used, 16);
    if (used != text.size()) return std::nullopt;
    return static_cast<std::uintptr_t>(value);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<MappedRegion> ParseRegion(const std::string& line) {
  // start-end perms offset dev inode [path]
  std::istringstream in(line);
  std::string range, perms, offset, device, inode;
  if (!(in >> range >> perms >> offset >> device >> inode)) return std::nullopt;
  const std::size_t dash = range.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const auto start = ParseHex(range.substr(0, dash));
  const auto end = ParseHex(range.substr(dash + 1));
  const auto fileOffset = ParseHex(offset);
  if (!start || !end || !fileOffset) return std::nullopt;
  MappedRegion region{*start, *end, *fileOffset, {}};
  std::getline(in >> std::ws, region.path);
  return region;
}

// ET_DYN files (shared libraries, position-independent executables) are linked at 0 and
// loaded anywhere; ET_EXEC files sit at the addresses they were linked for.
bool IsRelocatable(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  Elf64_Ehdr header{};
  if (!in.read(reinterpret_cast<char*>(&header), sizeof(header))) return true;
  return header.e_type != ET_EXEC;
}

// True when the ELF file has a full symbol table. A stripped one has only its exported
// symbols, after the nearest of which addr2line names any address it has no debug data for.
bool HasSymbolTable(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  Elf64_Ehdr header{};
  if (!in.read(reinterpret_cast<char*>(&header), sizeof(header)) ||
      header.e_shentsize != sizeof(Elf64_Shdr)) {
    return false;
  }
  in.seekg(static_cast<std::streamoff>(header.e_shoff));
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section{};
    if (!in.read(reinterpret_cast<char*>(&section), sizeof(section))) return false;
    if (section.sh_type == SHT_SYMTAB) return true;
  }
  return false;
}

// The running program's file: the crash helper is the client itself.
std::string OwnExecutable() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// Closes a descriptor on every path.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() { Close(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Function and "file:line" for each address of one file, from binutils' addr2line; empty
// when the program cannot be run.
std::vector<std::pair<std::string, std::string>> LookUp(const std::string& file,
                                                        const std::vector<std::uintptr_t>& where) {
  std::vector<std::string> words = {"addr2line", "-C", "-f", "-e", file};
  for (std::uintptr_t address : where) {
    char text[32];
    std::snprintf(text, sizeof(text), "0x%jx", static_cast<std::uintmax_t>(address));
    words.emplace_back(text);
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  ScopedFd readEnd(ends[0]);
  ScopedFd writeEnd(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = ::posix_spawnp(&child, "addr2line", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.Close();
  if (spawned != 0) return {};

  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(readEnd.get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  std::vector<std::pair<std::string, std::string>> found;
  std::istringstream lines(output);
  std::string function, location;
  while (std::getline(lines, function) && std::getline(lines, location)) {
    found.emplace_back(function, location);
  }
  if (found.size() != where.size()) return {};
  return found;
}

std::string SymbolisedBacktrace(const CrashRecordContents& contents) {
  // Return addresses point after the call; the call itself is one byte earlier.
  std::map<std::string, std::vector<std::size_t>> framesOfFile;
  std::vector<std::optional<FileAddress>> located;
  for (std::size_t i = 0; i < contents.returnAddresses.size(); ++i) {
    const std::uintptr_t address = contents.returnAddresses[i];
    located.push_back(LocateAddress(address > 0 ? address - 1 : 0, contents.regions));
    if (located.back()) framesOfFile[located.back()->file].push_back(i);
  }
  std::vector<std::string> described(contents.returnAddresses.size(), "??");
  for (const auto& [file, frames] : framesOfFile) {
    std::vector<std::uintptr_t> addresses;
    for (std::size_t frame : frames) addresses.push_back(located[frame]->address);
    const auto names = LookUp(file, addresses);
    // The stripped client without its debug symbols: a name without a line is a guess.
    const bool guesses = file == OwnExecutable() && !HasSymbolTable(file);
    for (std::size_t k = 0; k < frames.size(); ++k) {
      const bool placed = !names.empty() && names[k].second.rfind("??", 0) != 0;
      std::string text = names.empty() || (guesses && !placed) ? "??" : names[k].first;
      if (placed) text += " at " + names[k].second;
      described[frames[k]] = text + " (" + file + ")";
    }
  }
  std::ostringstream out;
  out << "Backtrace:\n";
  for (std::size_t i = 0; i < described.size(); ++i) {
    char address[32];
    std::snprintf(address, sizeof(address), "0x%jx",
                  static_cast<std::uintmax_t>(contents.returnAddresses[i]));
    out << "#" << i << " " << address << " " << described[i] << "\n";
  }
  return out.str();
}

bool IsRecordName(const std::string& name) {
  return name.size() > 12 && name.rfind("Hopwell_", 0) == 0 &&
         name.compare(name.size() - 4, 4, ".dmp") == 0 && IsSafeComponent(name);
}

}  // namespace

CrashRecordContents ParseCrashRecord(const std::string& text) {
  CrashRecordContents contents;
  enum class Section { Head, Addresses, Map } section = Section::Head;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line == kReturnAddressesHeading) {
      section = Section::Addresses;
    } else if (line == kMemoryMapHeading) {
      section = Section::Map;
    } else if (section == Section::Addresses) {
      if (line.rfind("0x", 0) != 0) continue;
      if (auto address = ParseHex(line.substr(2))) contents.returnAddresses.push_back(*address);
    } else if (section == Section::Map) {
      if (line.rfind("Backtrace:", 0) == 0) break;
      if (auto region = ParseRegion(line)) contents.regions.push_back(std::move(*region));
    }
  }
  return contents;
}

std::optional<FileAddress> LocateAddress(std::uintptr_t address,
                                         const std::vector<MappedRegion>& regions) {
  for (const MappedRegion& region : regions) {
    if (address < region.start || address >= region.end) continue;
    if (region.path.empty() || region.path.front() != '/') return std::nullopt;
    if (!IsRelocatable(region.path)) return FileAddress{region.path, address};
    // The load address is where the file's first byte is mapped.
    std::uintptr_t base = region.start - region.offset;
    for (const MappedRegion& other : regions) {
      if (other.path == region.path && other.offset == 0) {
        base = other.start;
        break;
      }
    }
    return FileAddress{region.path, address - base};
  }
  return std::nullopt;
}

std::string CrashMessage(const fs::path& logFolder, const fs::path& record,
                         const std::string& status, const std::string& supportEmail) {
  std::ostringstream out;
  const std::size_t colon = status.find(':');
  const std::string kind = status.substr(0, colon);
  const std::string error = colon == std::string::npos ? std::string() : status.substr(colon + 1);
  if (kind == "create") {
    out << "Failed to create dump file '" << record.string() << "' (error " << error << ")";
    return out.str();
  }
  out << "Kelvory Hopwell encountered a problem and had to quit";
  if (kind != "ok") out << " (" << error << ")";
  out << ".\n\nPlease send the folder '" << logFolder.string() << "' to " << supportEmail << ".";
  return out.str();
}

int RunCrashReport(const std::vector<std::string>& args,
                   const std::function<bool(const std::string&, const std::string&)>& showBox) {
  if (args.size() != 3 || !IsRecordName(args[0])) {
    std::fprintf(stderr, "hopwell: %s is for the crash handler only\n", "--crash-report");
    return 2;
  }
  const fs::path folder = TempRoot() / "Hopwell";
  const std::optional<fs::path> record = JoinChecked(folder, args[0]);
  const std::string& status = args[1];
  if (record && status == "ok") {
    std::ifstream in(record->string(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string backtrace = SymbolisedBacktrace(ParseCrashRecord(text.str()));
    std::ofstream(record->string(), std::ios::binary | std::ios::app) << backtrace;
  }
  const std::string message =
      CrashMessage(folder, record.value_or(folder), status, deployment::kSupportEmail);
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  if (args[2] == "desktop" && showBox) showBox("Kelvory Hopwell", message);
  return 0;
}

}  // namespace hopwell
