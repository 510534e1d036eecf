#include "net/ChunkedUploader.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "net/UrlTools.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kUnknownError = "An unknown error occurred while uploading the document";
constexpr std::uint64_t kMaxChunks = 0xFFFFFFFFu;
// From here on the number of chunks would not fit in 32 bits.
constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 52;

}  // namespace

ChunkedUploader::ChunkedUploader(fs::path file, std::string uploadUrl, std::string token)
    : ChunkedUploader(std::move(file), std::move(uploadUrl), std::move(token), CreateHttpHelper()) {
}

ChunkedUploader::ChunkedUploader(fs::path file, std::string uploadUrl, std::string token,
                                 HttpHelperPtr http)
    : http_(std::move(http)),
      file_(std::move(file)),
      uploadUrl_(std::move(uploadUrl)),
      token_(std::move(token)) {}

std::vector<ChunkedUploader::Chunk> ChunkedUploader::MakeChunks() {
  const std::string stem = file_.stem().string();
  const std::string extension = file_.extension().string();
  boost::system::error_code error;
  const std::uintmax_t size = fs::file_size(file_, error);
  if (error) {
    HW_LOG(log_, error) << "Failed to get file size for " << file_ << ": " << error.value() << " - "
                        << error.message();
    return {};
  }
  if (size >= kTooLarge) {
    HW_LOG(log_, error) << "File " << file_ << " is " << size << " bytes. Maximum size is "
                        << kMaxChunks;
    return {};
  }
  std::vector<Chunk> chunks;
  chunks.reserve(static_cast<std::size_t>((size + kChunkSize - 1) / kChunkSize));
  for (std::uint64_t n = 1, offset = 0; offset < size; ++n, offset += kChunkSize) {
    const auto length =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSize, size - offset));
    chunks.push_back(
        {file_, length, offset, (boost::format("%1%_%2%%3%") % stem % n % extension).str()});
  }
  return chunks;
}

bool ChunkedUploader::UploadInChunks() {
  HW_LOG(log_, debug) << "  UploadInChunks(" << file_ << ", " << uploadUrl_ << ")";
  const std::vector<Chunk> chunks = MakeChunks();
  if (chunks.empty()) {
    HW_LOG(log_, error) << "Failed to get chunks for " << file_;
    return false;
  }
  std::ifstream in(file_.string(), std::ios::binary);
  if (!in) {
    HW_LOG(log_, error) << "Failed to open " << file_;
    return false;
  }
  for (const Chunk& chunk : chunks) {
    if (!UploadChunk(in, chunk)) {
      HW_LOG(log_, error) << "  Failed to upload chunk " << chunk.name;
      return false;
    }
  }
  return true;
}

bool ChunkedUploader::UploadChunk(std::istream& in, const Chunk& chunk) {
  const std::string url = AddQueryParameter(uploadUrl_, "n", chunk.name);
  const HeaderList headers = {MakeTokenHeader(token_)};
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    HW_LOG(log_, trace) << "Uploading chunk " << chunk.name << " [" << chunk.offset << ":"
                        << chunk.length << "] to " << url << " (attempt " << attempt << "/"
                        << kAttempts << ")";
    in.clear();
    in.seekg(static_cast<std::streamoff>(chunk.offset));
    std::ostringstream response;
    long status = 0;
    const HttpResult result = http_->PostStream(url, "application/octet-stream", &response, in,
                                                chunk.length, headers, &status);
    HW_LOG(log_, trace) << "PostURL: " << result;
    HW_LOG(log_, trace) << "Response code: " << status;

    boost::property_tree::ptree answer;
    try {
      std::istringstream text(response.str());
      boost::property_tree::read_json(text, answer);
    } catch (const boost::property_tree::json_parser_error& error) {
      HW_LOG(log_, warning) << "Error parsing response: " << error.what();
      answer.clear();
    }
    const std::string answerStatus = answer.get<std::string>("status", "");
    const std::string message = answer.get<std::string>("message", kUnknownError);
    const bool matches = answerStatus == "ok" && message == "UPLOAD_FILE_SUCCESS";
    // The HTTP status is not judged: the answer's own words decide.
    if (result == HttpResult::Ok && matches) return true;
    if (!matches) {
      HW_LOG(log_, info) << "    Invalid response:\n" << answerStatus << ": " << message;
    }
  }
  return false;
}

}  // namespace hopwell
