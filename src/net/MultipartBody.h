#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/Logging.h"
#include "net/IHttpHelper.h"
#include "net/UploadSource.h"
#include "storage/FileOperations.h"

namespace hopwell {

// A multipart/form-data body: the fields, then the files (streamed in 32 768-byte pieces),
// then the closing delimiter. The boundary is 70 characters that occur in no field, no
// file part's field name and no file's content; the Content-Length is computed up front.
// A form of 4 GiB or more gets no boundary: it cannot be sent.
class MultipartBody : public UploadSource {
 public:
  static constexpr std::size_t kBoundaryLength = 70;
  static constexpr std::size_t kFilePieceSize = 32768;

  // Draws characters with `random` (a value modulo 62 picks one); the runtime's
  // generator when empty.
  MultipartBody(const FileList& files, const FieldList& fields, ProgressCallback progress,
                void* context, std::function<unsigned()> random = {});

  const std::string& Boundary() const { return boundary_; }
  std::uint64_t Size() const override { return size_; }
  std::size_t Fill(char* buffer, std::size_t capacity) override;
  bool Failed() const override { return failed_; }
  std::uint64_t Written() const { return written_; }

  // "Calculated post size was ..." when the bytes delivered differ from Size().
  void CheckSize();

 private:
  enum class Step { Fields, FileHeader, FileData, Closing, Done };

  std::string MakeBoundary(const std::function<unsigned()>& random) const;
  bool OccursInInputs(const std::string& candidate) const;
  std::size_t TakePending(char* buffer, std::size_t capacity);
  void NextStep();
  std::size_t FillFileData(char* buffer, std::size_t capacity);

  LogSource log_;
  const FileList files_;
  const FieldList fields_;
  ProgressCallback progress_;
  void* context_;
  std::string boundary_;
  std::uint64_t size_ = 0;
  std::vector<std::uint64_t> fileSizes_;

  Step step_ = Step::Fields;
  std::size_t index_ = 0;
  std::string pending_;
  std::size_t pendingOffset_ = 0;
  FileHandle file_;
  std::uint64_t fileSent_ = 0;
  std::uint64_t written_ = 0;
  bool failed_ = false;
};

}  // namespace hopwell
