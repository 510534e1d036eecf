#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

namespace hopwell::testing {

// A fresh folder, removed with everything below it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const boost::filesystem::path& path() const { return path_; }
  boost::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  boost::filesystem::path path_;
};

// Sets an environment variable for the object's lifetime, restoring the old value after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

void WriteFile(const boost::filesystem::path& path, const std::string& contents);
std::string ReadFile(const boost::filesystem::path& path);

}  // namespace hopwell::testing
