#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "storage/KelvDBContent.h"

namespace hopwell {

// An in-memory table of strings with named columns, a row cursor and a last-error text,
// loaded from and saved to the KelvDB text format. In "param" mode it is a key/value store
// (column 0 the keys, column 1 the values). Operations report failure by their result
// (false, -1 or an empty string) and a message in the last error; they never throw.
//
// Files are read and written with Windows text-mode line ends (CR LF on disk, LF in
// memory) so they stay exchangeable with the Windows client; streams and strings are not
// translated. A table is used from one thread only.
class KelvDB {
 public:
  KelvDB() = default;
  KelvDB(const KelvDB&) = default;
  KelvDB& operator=(const KelvDB&) = default;
  virtual ~KelvDB();

  virtual bool create(std::uint32_t columnCount, std::uint32_t rowCount);
  virtual bool loadFromStream(std::istream& stream);
  virtual bool loadFromString(const std::string& text);
  virtual bool load(const boost::filesystem::path& path);
  virtual bool isInitialized() const;
  virtual bool save(const boost::filesystem::path& path);
  virtual std::string toString();
  virtual bool next();
  virtual bool previous();
  virtual bool first();
  virtual bool last();
  virtual bool goTo(std::uint32_t row);
  virtual bool move(std::int32_t offset);
  // Cell references stay valid until the table is next changed.
  virtual const std::string& getCellByName(const std::string& columnName, std::uint32_t row);
  virtual const std::string& getCell(std::uint32_t column, std::uint32_t row);
  virtual bool getRow(std::uint32_t row, std::vector<std::string>& values);
  virtual bool getCurrentRow(std::vector<std::string>& values);
  virtual bool getColumn(std::uint32_t column, std::vector<std::string>& values);
  virtual const std::string& getParameter(const std::string& key);
  virtual bool setParameter(const std::string& key, const std::string& value);
  virtual bool setCellByName(const char* columnName, std::uint32_t row, const std::string& value);
  virtual bool setCell(std::uint32_t column, std::uint32_t row, const std::string& value);
  virtual const std::string& getLastError() const;
  virtual std::int32_t getColumnCount();
  virtual std::int32_t getRowCount();
  virtual const std::string& getColumnName(std::uint32_t column);
  virtual bool setColumnName(std::uint32_t column, const std::string& name);
  virtual bool hasColumn(const std::string& name);
  virtual std::uint32_t getColumnIndex(const std::string& name);
  virtual bool addColumn(const std::string& name);
  virtual bool addEmptyRow();
  virtual bool addRow(const std::vector<std::string>& values);
  virtual bool deleteColumn(std::uint32_t column);
  virtual bool deleteRow(std::uint32_t row);
  virtual bool setMode(const std::string& mode);
  virtual bool setName(const std::string& name);
  virtual const std::string& getName();
  virtual const std::string& getMode();
  virtual void clearError();
  virtual bool hasError() const;
  virtual bool isAtBeginning() const;
  virtual bool isAtEnd() const;
  virtual std::int32_t getCurrentRowIndex();

  // True when the last load failed because its file or stream could not be read whole (it
  // may hold a good table: callers must not replace it); false after a load that read
  // everything, whether or not the text was a table.
  bool readFailed() const { return readFailed_; }

  // The all-ones index getColumnIndex returns for an unknown name.
  static constexpr std::uint32_t kNoColumn = 0xFFFFFFFFu;

 private:
  bool Fail(std::string message);
  // False (with the last error set) when the table is not initialised.
  bool Ready();
  bool LoadText(std::string_view text);
  void ResetForLoad();
  std::uint32_t ColumnCount() const;
  std::uint32_t RowCount() const;

  KelvDBContent content_;
  std::string lastError_;
  std::int32_t cursor_ = -1;
  bool initialized_ = false;
  bool atBeginning_ = false;
  bool atEnd_ = false;
  bool readFailed_ = false;
  // Returned by value-returning operations on failure.
  static inline const std::string kEmptyValue{};
};

}  // namespace hopwell
