#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "common/SimulatorProcess.h"
#include "common/TempDir.h"

namespace hopwell::testing {

// The stand-in editing application built by the project (tools/standin).
inline boost::filesystem::path StandinApp(const std::string& name = "InDesign.exe") {
  return SimulatorProcess::BinaryDir() / "tools" / "standin" / name;
}

// One start as the stand-in recorded it: process id and arguments.
struct StandinStart {
  int pid = 0;
  std::vector<std::string> arguments;
};

inline std::vector<StandinStart> ReadStandinRecord(const boost::filesystem::path& record) {
  std::vector<StandinStart> starts;
  if (!boost::filesystem::exists(record)) return starts;
  const std::string text = ReadFile(record);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    StandinStart start;
    std::vector<std::string> fields(1);
    for (std::size_t i = at; i < end; ++i) {
      if (text[i] == '\t') {
        fields.emplace_back();
      } else if (text[i] == '\\' && i + 1 < end) {
        const char next = text[++i];
        fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
      } else {
        fields.back() += text[i];
      }
    }
    start.pid = std::stoi(fields.front());
    start.arguments.assign(fields.begin() + 1, fields.end());
    starts.push_back(std::move(start));
    at = end + 1;
  }
  return starts;
}

// Waits (polling, up to the timeout) until the record holds `count` starts.
inline std::vector<StandinStart> WaitForStandinStarts(const boost::filesystem::path& record,
                                                      std::size_t count,
                                                      std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<StandinStart> starts = ReadStandinRecord(record);
  while (starts.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    starts = ReadStandinRecord(record);
  }
  return starts;
}

}  // namespace hopwell::testing
