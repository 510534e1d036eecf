#include "net/MultipartBody.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "common/LogCapture.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

std::string Pattern(std::size_t n, unsigned seed = 1) {
  std::string data(n, '\0');
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>((i * 31 + seed) % 256);
  return data;
}

// The body written out by hand from the form layout.
std::string ExpectedBody(const std::string& b, const FieldList& fields,
                         const std::vector<std::tuple<std::string, std::string, std::string>>& files) {
  std::string body;
  for (const auto& [name, value] : fields) {
    body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
            "\r\n";
  }
  for (const auto& [field, fileName, content] : files) {
    body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + field + "\"; filename=\"" +
            fileName + "\"\r\nContent-Type: application/octet-stream\r\n" +
            "Content-Transfer-Encoding: binary\r\n\r\n" + content + "\r\n";
  }
  return body + "--" + b + "--\r\n";
}

std::string Drain(MultipartBody& body, std::vector<std::size_t>* pieces = nullptr) {
  std::string all;
  std::vector<char> buffer(65536);
  for (int guard = 0; guard < 100000; ++guard) {
    const std::size_t n = body.Fill(buffer.data(), buffer.size());
    if (n == 0) break;
    if (pieces != nullptr) pieces->push_back(n);
    all.append(buffer.data(), n);
  }
  return all;
}

TEST(MultipartBody, LayoutAndContentLengthForFileSizesAroundThePieceSize) {
  for (const std::size_t size : {0u, 1u, 32767u, 32768u, 32769u, 65535u, 65536u, 65537u,
                                 3u * 32768u}) {
    testing::TempDir dir;
    const std::string content = Pattern(size);
    testing::WriteFile(dir / "report 1.zip", content);
    const FieldList fields{{"name", "Jane Doe"}, {"message", "line 1\r\nline 2"}};
    const FileList files{{"file", dir / "report 1.zip"}};
    MultipartBody body(files, fields, nullptr, nullptr);

    ASSERT_EQ(body.Boundary().size(), 70u);
    EXPECT_EQ(body.Boundary().find_first_not_of(
                  "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
              std::string::npos);
    const std::string expected =
        ExpectedBody(body.Boundary(), fields, {{"file", "report 1.zip", content}});
    EXPECT_EQ(body.Size(), expected.size()) << size;
    std::vector<std::size_t> pieces;
    EXPECT_EQ(Drain(body, &pieces), expected) << size;
    EXPECT_FALSE(body.Failed()) << size;
    EXPECT_EQ(body.Written(), body.Size());
    for (std::size_t piece : pieces) EXPECT_LE(piece, 32768u);
  }
}

TEST(MultipartBody, FieldsOnlyAndNothingAtAll) {
  const FieldList fields{{"a", "1"}, {"b", ""}};
  MultipartBody withFields({}, fields, nullptr, nullptr);
  EXPECT_EQ(Drain(withFields), ExpectedBody(withFields.Boundary(), fields, {}));

  MultipartBody empty({}, {}, nullptr, nullptr);
  EXPECT_EQ(Drain(empty), "--" + empty.Boundary() + "--\r\n");
  EXPECT_EQ(empty.Size(), 76u);
}

TEST(MultipartBody, SeveralFilesKeepTheirOrderAndReportRunningProgress) {
  testing::TempDir dir;
  testing::WriteFile(dir / "a.bin", Pattern(40000, 3));
  testing::WriteFile(dir / "b.txt", "");
  const FileList files{{"first", dir / "a.bin"}, {"second", dir / "b.txt"}};
  std::vector<std::uint64_t> uploaded;
  auto record = [](void* self, std::uint64_t, std::uint64_t, std::uint64_t total,
                   std::uint64_t sent) {
    auto& list = *static_cast<std::vector<std::uint64_t>*>(self);
    EXPECT_GT(total, 40000u);
    list.push_back(sent);
  };
  MultipartBody body(files, {}, record, &uploaded);
  const std::string all = Drain(body);
  EXPECT_EQ(all, ExpectedBody(body.Boundary(), {},
                              {{"first", "a.bin", Pattern(40000, 3)}, {"second", "b.txt", ""}}));
  ASSERT_EQ(uploaded.size(), 2u);  // two pieces of the first file, none for the empty one
  EXPECT_LT(uploaded[0], uploaded[1]);
}

TEST(MultipartBody, CandidateFoundInInputsIsDrawnAgain) {
  testing::TempDir dir;
  // The first candidate (70 x "0") sits inside the file, split across lines elsewhere.
  testing::WriteFile(dir / "f.txt", "head\n" + std::string(70, '0') + "\ntail");
  const FileList files{{"file", dir / "f.txt"}};
  unsigned calls = 0;
  auto random = [&calls] { return calls++ < 70 ? 0u : 1u; };
  MultipartBody body(files, {}, nullptr, nullptr, random);
  EXPECT_EQ(body.Boundary(), std::string(70, '1'));

  // The same for a field value and for a file part's field name.
  calls = 0;
  MultipartBody inField({}, {{"x", "<" + std::string(70, '0') + ">"}}, nullptr, nullptr, random);
  EXPECT_EQ(inField.Boundary(), std::string(70, '1'));
  calls = 0;
  MultipartBody inName({{std::string(70, '0'), dir / "f2.txt"}}, {}, nullptr, nullptr, random);
  EXPECT_EQ(inName.Boundary(), std::string(70, '1'));
}

TEST(MultipartBody, CandidateSpanningTwoReadBlocksIsFound) {
  testing::TempDir dir;
  std::string content(64 * 1024 - 30, 'x');
  content += std::string(70, '0');
  content += std::string(1000, 'y');
  testing::WriteFile(dir / "big.bin", content);
  unsigned calls = 0;
  MultipartBody body({{"file", dir / "big.bin"}}, {}, nullptr, nullptr,
                     [&calls] { return calls++ < 70 ? 0u : 2u; });
  EXPECT_EQ(body.Boundary(), std::string(70, '2'));
}

TEST(MultipartBody, FileThatDisappearsFailsTheBody) {
  testing::TempDir dir;
  testing::WriteFile(dir / "gone.bin", "data");
  const FileList files{{"file", dir / "gone.bin"}};
  MultipartBody body(files, {{"f", "v"}}, nullptr, nullptr);
  fs::remove(dir / "gone.bin");
  testing::LogCapture log;
  Drain(body);
  EXPECT_TRUE(body.Failed());
  EXPECT_TRUE(log.HasFragment("error", "Failed to open file "));
  EXPECT_TRUE(log.HasFragment("error", "gone.bin\" for sending"));
}

TEST(MultipartBody, FileThatShrinksFailsWithTheSizeWarning) {
  testing::TempDir dir;
  testing::WriteFile(dir / "s.bin", Pattern(50000));
  const FileList files{{"file", dir / "s.bin"}};
  MultipartBody body(files, {}, nullptr, nullptr);
  testing::WriteFile(dir / "s.bin", Pattern(100));
  testing::LogCapture log;
  Drain(body);
  EXPECT_TRUE(body.Failed());
  EXPECT_TRUE(log.HasFragment("error", "Could not read everything from "));
  EXPECT_TRUE(log.HasFragment("warning", "Calculated post size was " + std::to_string(body.Size()) +
                                             " but actual was "));
}

}  // namespace
}  // namespace hopwell
