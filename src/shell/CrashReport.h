#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The second half of crash handling, run in a fresh process (the client re-executed by the
// handler): it adds a symbolised backtrace to the record the handler wrote and tells the
// user where to find it.

// One line of a /proc/PID/maps copy.
struct MappedRegion {
  std::uintptr_t start = 0;
  std::uintptr_t end = 0;
  std::uintptr_t offset = 0;
  std::string path;
};

// The raw return addresses and the memory map of a crash record.
struct CrashRecordContents {
  std::vector<std::uintptr_t> returnAddresses;
  std::vector<MappedRegion> regions;
};
CrashRecordContents ParseCrashRecord(const std::string& text);

// The file an address belongs to and the address as that file's debugging data counts it
// (relative to its load address for a position-independent file).
struct FileAddress {
  std::string file;
  std::uintptr_t address = 0;
};
std::optional<FileAddress> LocateAddress(std::uintptr_t address,
                                         const std::vector<MappedRegion>& regions);

// The text shown to the user. `status` is the handler's: "ok", "create:<errno>" or
// "write:<errno>".
std::string CrashMessage(const boost::filesystem::path& logFolder,
                         const boost::filesystem::path& record, const std::string& status,
                         const std::string& supportEmail);

// Runs the helper for `hopwell --crash-report NAME STATUS FRONTEND` (the arguments after the
// option). `showBox` shows the message in a message box; it is called for the desktop front
// end only and returns false when no box could be shown. The message always goes to
// standard error as well. Returns the helper's exit code.
int RunCrashReport(
    const std::vector<std::string>& args,
    const std::function<bool(const std::string& caption, const std::string& text)>& showBox);

}  // namespace hopwell
