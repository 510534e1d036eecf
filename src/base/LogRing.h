#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace hopwell {

// The finished lines of one logging thread on their way to the writer: a ring of bytes with
// one producer (the thread that owns it) and one consumer (whoever holds the writer's lock).
// Every line carries its time stamp, so the writer puts the lines of all threads back into
// the order in which they were stamped; the threads share nothing while they log.
//
// Rings are never freed: a thread that ends gives its ring back and the next thread to log
// takes it over, and the list of rings can be walked without a lock, also from the
// fatal-signal handler.
class LogRing {
 public:
  static constexpr std::size_t kCapacity = 128 * 1024;
  // Longer lines travel in a block of their own; the ring holds its address.
  static constexpr std::size_t kLongestInline = kCapacity / 8;

  // Flags of a line.
  static constexpr std::uint32_t kNewlineAdded = 1;  // the line's last byte was not logged
  static constexpr std::uint32_t kOwnBlock = 2;      // the bytes are in a new[] block

  struct Line {
    const char* bytes;
    std::size_t size;
    std::uint32_t flags;
    std::uint64_t stamp;  // nanoseconds of the line's time stamp
  };

  // A ring of the calling thread's own: one given back by an ended thread, or a new one.
  static LogRing* Take();
  // Gives the ring back; its lines are still written.
  void GiveBack();

  // Producer side. Room for a line of `size` bytes, or null while the ring is too full.
  char* Reserve(std::size_t size);
  // Publishes the line written where Reserve pointed.
  void Publish(std::size_t size, std::uint32_t flags, std::uint64_t stamp);
  // Publishes a line of kOwnBlock; false (the block is the caller's again) while too full.
  bool PublishBlock(char* block, std::size_t size, std::uint32_t flags, std::uint64_t stamp);
  // Whether more than `bytes` wait for the writer. Reads the writer's side only when its own
  // view says so.
  bool Holds(std::size_t bytes);

  // Consumer side, under the writer's lock. A drain takes the lines published when it began
  // (Bound), so that it ends while threads go on logging.
  void Bound();
  // The oldest line within the bound, if there is one.
  bool Front(Line& line);
  // Done with the line Front gave.
  void Pop();
  // Hands the room of the lines popped so far back to the producer.
  void Release();

  // The rings for the consumer to walk: First(), then Next() until null.
  static LogRing* First();
  LogRing* Next() const { return next_; }

 private:
  struct Header {
    std::uint32_t size;
    std::uint32_t flags;
    std::uint64_t stamp;
  };
  static constexpr std::uint32_t kWrap = 0x80000000u;  // the rest of the lap is unused

  LogRing() = default;
  static std::size_t EntrySize(std::size_t payload);
  char* Claim(std::size_t entry);
  void Commit(std::size_t size, std::uint32_t flags, std::uint64_t stamp, std::size_t entry);

  alignas(64) std::atomic<std::uint64_t> head_{0};  // end of what is published
  std::uint64_t claimed_ = 0;                       // producer: where the reserved entry starts
  std::uint64_t tailSeen_ = 0;                      // producer: the tail as last read
  alignas(64) std::atomic<std::uint64_t> tail_{0};  // end of what the writer has taken
  std::uint64_t read_ = 0;                          // consumer: the next entry to read
  std::uint64_t bound_ = 0;                         // consumer: the end of this drain's lines
  unsigned unreleased_ = 0;                         // consumer: lines popped since Release
  bool frontRead_ = false;                          // consumer: front_ holds the line at read_
  Line front_{};
  std::atomic<bool> owned_{true};
  LogRing* next_ = nullptr;
  alignas(16) char bytes_[kCapacity];
};

}  // namespace hopwell
