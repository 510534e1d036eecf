#pragma once

#include <chrono>
#include <cstddef>

namespace hopwell {

// The limits every transfer of a helper runs under.
struct TransferLimits {
  // Establishing the connection (TCP and TLS) may take this long.
  std::chrono::milliseconds connect{60000};
  // Once connected, a transfer that moves no byte in either direction for this long fails.
  std::chrono::milliseconds idle{30000};
  // An answer collected in memory (a string stream) may be at most this large; answers
  // written to files are not limited.
  std::size_t memoryAnswer = 16 * 1024 * 1024;
};

// 60 s to connect and 30 s without progress, unless HOPWELL_CONNECT_TIMEOUT or
// HOPWELL_IDLE_TIMEOUT (whole seconds, read once per process) say otherwise.
const TransferLimits& DefaultTransferLimits();

}  // namespace hopwell
