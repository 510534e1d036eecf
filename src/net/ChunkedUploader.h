#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// Uploads one file to the platform in 1 MiB pieces, one POST per piece, each named after
// the file ("report_2.zip") in the query parameter "n" so the server can put them together
// again. A piece is tried three times before the upload gives up.
class ChunkedUploader {
 public:
  static constexpr std::uint64_t kChunkSize = 1048576;
  static constexpr int kAttempts = 3;

  struct Chunk {
    boost::filesystem::path file;
    std::uint32_t length = 0;
    std::uint64_t offset = 0;
    std::string name;
  };

  // A helper of its own (CreateHttpHelper), so the pieces share its connection.
  ChunkedUploader(boost::filesystem::path file, std::string uploadUrl, std::string token);
  // Another helper, for test rigs.
  ChunkedUploader(boost::filesystem::path file, std::string uploadUrl, std::string token,
                  HttpHelperPtr http);

  // True when the server accepted every chunk; stops at the first chunk that failed three
  // times. An empty file has no chunks and cannot be uploaded.
  [[nodiscard]] bool UploadInChunks();

  // The file's chunks in order; empty (with a log line) when its size cannot be read or
  // is too large.
  std::vector<Chunk> MakeChunks();

 private:
  bool UploadChunk(std::istream& in, const Chunk& chunk);

  LogSource log_;
  HttpHelperPtr http_;
  boost::filesystem::path file_;
  std::string uploadUrl_;
  std::string token_;
};

}  // namespace hopwell
