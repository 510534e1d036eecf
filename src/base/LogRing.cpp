#include "base/LogRing.h"

#include <cstring>

namespace hopwell {
namespace {

std::atomic<LogRing*> rings{nullptr};

}  // namespace

LogRing* LogRing::Take() {
  for (LogRing* ring = First(); ring != nullptr; ring = ring->next_) {
    bool owned = false;
    if (!ring->owned_.load(std::memory_order_relaxed) &&
        ring->owned_.compare_exchange_strong(owned, true, std::memory_order_acquire)) {
      return ring;
    }
  }
  auto* ring = new LogRing;
  ring->next_ = rings.load(std::memory_order_relaxed);
  while (!rings.compare_exchange_weak(ring->next_, ring, std::memory_order_release,
                                      std::memory_order_relaxed)) {
  }
  return ring;
}

void LogRing::GiveBack() {
  owned_.store(false, std::memory_order_release);
}

LogRing* LogRing::First() {
  return rings.load(std::memory_order_acquire);
}

std::size_t LogRing::EntrySize(std::size_t payload) {
  return sizeof(Header) + ((payload + 15) & ~std::size_t{15});
}

char* LogRing::Claim(std::size_t entry) {
  std::uint64_t position = head_.load(std::memory_order_relaxed);
  std::size_t offset = position % kCapacity;
  const std::size_t toEnd = kCapacity - offset;
  // An entry never wraps: the rest of the lap is skipped instead (entries and the capacity
  // are multiples of 16, so a header always fits in that rest).
  const std::size_t needed = entry + (toEnd < entry ? toEnd : 0);
  if (kCapacity - (position - tailSeen_) < needed) {
    tailSeen_ = tail_.load(std::memory_order_acquire);
    if (kCapacity - (position - tailSeen_) < needed) return nullptr;
  }
  if (toEnd < entry) {
    const Header wrap{0, kWrap, 0};
    std::memcpy(bytes_ + offset, &wrap, sizeof wrap);
    position += toEnd;
    offset = 0;
  }
  claimed_ = position;
  return bytes_ + offset + sizeof(Header);
}

void LogRing::Commit(std::size_t size, std::uint32_t flags, std::uint64_t stamp,
                     std::size_t entry) {
  const Header header{static_cast<std::uint32_t>(size), flags, stamp};
  std::memcpy(bytes_ + claimed_ % kCapacity, &header, sizeof header);
  head_.store(claimed_ + entry, std::memory_order_release);
}

char* LogRing::Reserve(std::size_t size) {
  return Claim(EntrySize(size));
}

void LogRing::Publish(std::size_t size, std::uint32_t flags, std::uint64_t stamp) {
  Commit(size, flags, stamp, EntrySize(size));
}

bool LogRing::PublishBlock(char* block, std::size_t size, std::uint32_t flags,
                           std::uint64_t stamp) {
  char* slot = Claim(EntrySize(sizeof block));
  if (slot == nullptr) return false;
  std::memcpy(slot, &block, sizeof block);
  Commit(size, flags | kOwnBlock, stamp, EntrySize(sizeof block));
  return true;
}

bool LogRing::Holds(std::size_t bytes) {
  const std::uint64_t head = head_.load(std::memory_order_relaxed);
  if (head - tailSeen_ <= bytes) return false;
  tailSeen_ = tail_.load(std::memory_order_acquire);
  return head - tailSeen_ > bytes;
}

void LogRing::Bound() {
  bound_ = head_.load(std::memory_order_acquire);
}

bool LogRing::Front(Line& line) {
  if (frontRead_) {
    line = front_;
    return true;
  }
  while (read_ < bound_) {
    Header header;
    const char* at = bytes_ + read_ % kCapacity;
    std::memcpy(&header, at, sizeof header);
    if ((header.flags & kWrap) != 0) {
      read_ += kCapacity - read_ % kCapacity;
      continue;
    }
    front_.size = header.size;
    front_.flags = header.flags;
    front_.stamp = header.stamp;
    if ((header.flags & kOwnBlock) != 0) {
      char* block = nullptr;
      std::memcpy(&block, at + sizeof header, sizeof block);
      front_.bytes = block;
    } else {
      front_.bytes = at + sizeof header;
    }
    frontRead_ = true;
    line = front_;
    return true;
  }
  return false;
}

void LogRing::Pop() {
  frontRead_ = false;
  read_ += EntrySize((front_.flags & kOwnBlock) != 0 ? sizeof(char*) : front_.size);
  // Room goes back in steps, so that the tail's line moves between the cores seldom.
  if (++unreleased_ == 64) Release();
}

void LogRing::Release() {
  unreleased_ = 0;
  tail_.store(read_, std::memory_order_release);
}

}  // namespace hopwell
