// The chunked upload against the simulator's upload endpoint, which puts the pieces together.
#include "net/ChunkedUploader.h"

#include <random>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <boost/crc.hpp>
#include <boost/property_tree/json_parser.hpp>

#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace pt = boost::property_tree;
using testing::TempDir;
using testing::WriteFile;

constexpr std::size_t kMiB = ChunkedUploader::kChunkSize;

std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

TEST(ChunkedUploaderChunksTest, NamesAndSizes) {
  struct Case {
    const char* file;
    std::size_t size;
    std::vector<std::pair<std::string, std::uint32_t>> chunks;
  };
  const std::vector<Case> cases = {
      {"empty.zip", 0, {}},
      {"a.zip", 1, {{"a_1.zip", 1}}},
      {"exact.zip", kMiB, {{"exact_1.zip", kMiB}}},
      {"over.zip", kMiB + 1, {{"over_1.zip", kMiB}, {"over_2.zip", 1}}},
      {"report",
       2 * kMiB + kMiB / 2,
       {{"report_1", kMiB}, {"report_2", kMiB}, {"report_3", kMiB / 2}}},
      {"cgu_7_0.tar.gz", 3, {{"cgu_7_0.tar_1.gz", 3}}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteFile(dir / c.file, std::string(c.size, 'x'));
    ChunkedUploader uploader(dir / c.file, "http://127.0.0.1:18080/api/v2/ext/upload", "t");
    const auto chunks = uploader.MakeChunks();
    ASSERT_EQ(chunks.size(), c.chunks.size()) << c.file;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].name, c.chunks[i].first);
      EXPECT_EQ(chunks[i].length, c.chunks[i].second);
      EXPECT_EQ(chunks[i].offset, i * kMiB);
    }
  }
  testing::LogCapture log;
  EXPECT_FALSE(
      ChunkedUploader(dir / "empty.zip", "http://127.0.0.1:18080/u", "t").UploadInChunks());
  EXPECT_TRUE(log.HasFragment("error", "Failed to get chunks for "));
  EXPECT_TRUE(
      ChunkedUploader(dir / "missing.zip", "http://127.0.0.1:18080/u", "t").MakeChunks().empty());
  EXPECT_TRUE(log.HasFragment("error", "Failed to get file size for "));
}

class ChunkedUploaderTest : public testing::SimulatorTest {
 protected:
  ChunkedUploaderTest() : data_(RandomBytes(2 * kMiB + 1000)) {
    WriteFile(dir_ / "cgu_7_0.zip", data_);
  }

  bool Upload() {
    return ChunkedUploader(dir_ / "cgu_7_0.zip", sim_->HttpUrl("/api/v2/ext/upload"), "tok en")
        .UploadInChunks();
  }
  void Switch(const std::string& json) { ASSERT_TRUE(sim_->Control("/_sim/save", &json)); }

  // What the simulator put together, and whether it equals the file.
  bool ArrivedWhole() {
    std::string answer;
    EXPECT_TRUE(sim_->Control("/_sim/uploads", nullptr, &answer));
    std::istringstream in(answer);
    pt::ptree uploads;
    pt::read_json(in, uploads);
    boost::crc_32_type crc;
    crc.process_bytes(data_.data(), data_.size());
    std::ostringstream hex;
    hex << std::uppercase << std::hex << crc.checksum();
    const auto archive = uploads.get_child_optional(pt::ptree::path_type("cgu_7_0.zip", '/'));
    return archive && archive->get<std::string>("size", "") == std::to_string(data_.size()) &&
           archive->get<std::string>("crc32", "") == hex.str();
  }

  std::vector<std::string> PieceNames() {
    std::vector<std::string> names;
    for (const auto& request : sim_->Requests()) names.push_back(request.Param("n"));
    return names;
  }

  TempDir dir_;
  std::string data_;
};

TEST_F(ChunkedUploaderTest, PiecesTravelInOrderOverOneConnection) {
  for (const std::string& base : {sim_->HttpBase(), sim_->HttpsBase()}) {
    SCOPED_TRACE(base);
    ASSERT_TRUE(sim_->Reset());
    ASSERT_TRUE(ChunkedUploader(dir_ / "cgu_7_0.zip", base + "/api/v2/ext/upload", "tok en")
                    .UploadInChunks());
    EXPECT_TRUE(ArrivedWhole());
    const auto requests = sim_->Requests();
    ASSERT_EQ(requests.size(), 3u);
    std::set<int> connections;
    for (const auto& request : requests) {
      EXPECT_EQ(request.Header("Content-Type"), "application/octet-stream");
      EXPECT_EQ(request.Header("X-API-Token"), "tok%20en");
      EXPECT_EQ(request.Param("hwversion"), "1.7.1");
      connections.insert(request.connection);
    }
    EXPECT_EQ(PieceNames(),
              (std::vector<std::string>{"cgu_7_0_1.zip", "cgu_7_0_2.zip", "cgu_7_0_3.zip"}));
    EXPECT_EQ(requests[2].bodyLength, 1000u);
    EXPECT_EQ(connections.size(), 1u);
  }
}

TEST_F(ChunkedUploaderTest, APieceThatFailsTwiceIsSentAgainAndNothingIsLost) {
  for (const char* answer : {"refuse", "not-json"}) {
    ASSERT_TRUE(sim_->Reset());
    testing::LogCapture log;
    Switch(std::string(R"({"fail_chunk": 2, "fail_times": 2, "fail_answer": ")") + answer + "\"}");
    ASSERT_TRUE(Upload()) << answer;
    EXPECT_TRUE(ArrivedWhole()) << answer;
    EXPECT_EQ(PieceNames(),
              (std::vector<std::string>{"cgu_7_0_1.zip", "cgu_7_0_2.zip", "cgu_7_0_2.zip",
                                        "cgu_7_0_2.zip", "cgu_7_0_3.zip"}));
    EXPECT_TRUE(log.HasFragment("trace", "(attempt 3/3)"));
    if (std::string(answer) == "refuse") {
      EXPECT_TRUE(log.Has("info", "    Invalid response:\nerror: PIECE_REFUSED"));
    } else {
      EXPECT_TRUE(log.HasFragment("warning", "Error parsing response: "));
      EXPECT_TRUE(log.Has("info",
                          "    Invalid response:\n: An unknown error occurred while "
                          "uploading the document"));
    }
  }
}

TEST_F(ChunkedUploaderTest, APieceThatFailsThreeTimesStopsTheUpload) {
  testing::LogCapture log;
  Switch(R"({"fail_chunk": 2, "fail_times": 3})");
  EXPECT_FALSE(Upload());
  EXPECT_EQ(PieceNames(), (std::vector<std::string>{"cgu_7_0_1.zip", "cgu_7_0_2.zip",
                                                    "cgu_7_0_2.zip", "cgu_7_0_2.zip"}));
  EXPECT_TRUE(log.Has("error", "  Failed to upload chunk cgu_7_0_2.zip"));
}

TEST_F(ChunkedUploaderTest, TheAnswerDecidesNotTheStatus) {
  Switch(R"({"error_status": 500})");
  EXPECT_TRUE(Upload());
  ASSERT_TRUE(sim_->Reset());
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "drop", "path": "/api/v2/ext/upload"})"));
  EXPECT_FALSE(Upload());
  EXPECT_EQ(sim_->Requests().size(), 3u);  // one piece, three attempts, no answer
}

}  // namespace
}  // namespace hopwell
