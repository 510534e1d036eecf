#include "net/PostBody.h"

#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "common/LogCapture.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

struct Progress {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;  // (upload total, uploaded)
  static void Record(void* self, std::uint64_t dt, std::uint64_t d, std::uint64_t ut,
                     std::uint64_t u) {
    EXPECT_EQ(dt, 0u);
    EXPECT_EQ(d, 0u);
    static_cast<Progress*>(self)->calls.emplace_back(ut, u);
  }
};

// Reads the whole body with the given capacity; returns the bytes and the piece sizes.
std::string Drain(PostBody& body, std::size_t capacity, std::vector<std::size_t>* pieces) {
  std::string all;
  std::vector<char> buffer(capacity);
  for (int guard = 0; guard < 100000; ++guard) {
    const std::size_t n = body.Read(buffer.data(), capacity);
    if (n == 0) break;
    EXPECT_LE(n, capacity);
    if (pieces != nullptr) pieces->push_back(n);
    all.append(buffer.data(), n);
  }
  return all;
}

TEST(StringPostData, DeliversTheStringInPiecesAndReportsProgress) {
  const std::string text = "0123456789abcdefghij";
  StringPostData body(text);
  Progress progress;
  body.SetProgressCallback(&Progress::Record, &progress);
  std::vector<std::size_t> pieces;
  EXPECT_EQ(body.Size(), text.size());
  EXPECT_EQ(Drain(body, 8, &pieces), text);
  EXPECT_EQ(pieces, (std::vector<std::size_t>{8, 8, 4}));
  ASSERT_EQ(progress.calls.size(), 3u);
  EXPECT_EQ(progress.calls.back().first, 20u);
  EXPECT_EQ(progress.calls.back().second, 20u);
  EXPECT_EQ(body.Read(nullptr, 8), 0u);
  EXPECT_EQ(body.Delivered(), 20u);
}

TEST(StreamPostBody, StopsAtTheGivenSizeEvenIfTheStreamHoldsMore) {
  std::istringstream in("abcdefghij");
  StreamPostBody body(in, 7);
  EXPECT_EQ(Drain(body, 3, nullptr), "abcdefg");
  EXPECT_EQ(body.Delivered(), 7u);
}

TEST(StreamPostBody, StreamEndingEarlyYieldsWhatItHadThenZero) {
  std::istringstream in("abcde");
  StreamPostBody body(in, 100);
  std::vector<std::size_t> pieces;
  EXPECT_EQ(Drain(body, 4, &pieces), "abcde");
  EXPECT_EQ(pieces, (std::vector<std::size_t>{4, 1}));
  EXPECT_EQ(body.Size(), 100u);
  EXPECT_EQ(body.Delivered(), 5u);
}

TEST(FilePostBody, UnreadableFileLogsAndEndsTheBody) {
  testing::TempDir dir;
  testing::LogCapture log;
  FilePostBody body(dir / "missing.bin");
  char buffer[16];
  EXPECT_EQ(body.Size(), 0u);
  EXPECT_EQ(body.Read(buffer, sizeof buffer), 0u);
  EXPECT_TRUE(log.HasFragment("error", "Failed to open "));
  EXPECT_TRUE(log.HasFragment("error", "missing.bin\" for reading"));
}

}  // namespace
}  // namespace hopwell
