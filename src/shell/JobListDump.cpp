#include "shell/JobListDump.h"

#include <fstream>

#include <boost/filesystem/operations.hpp>

namespace hopwell {
namespace {

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return text;
}

}  // namespace

bool WriteJobListDump(const boost::filesystem::path& file, const std::vector<JobPtr>& jobs) {
  const boost::filesystem::path temporary = file.string() + ".tmp";
  {
    std::ofstream out(temporary.string(), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const JobPtr& job : jobs) {
      out << static_cast<int>(job->GetState()) << '\t' << OneLine(job->Description()) << '\t'
          << OneLine(job->LastMessage()) << '\n';
    }
    if (!out.flush()) return false;
  }
  boost::system::error_code error;
  boost::filesystem::rename(temporary, file, error);
  if (error) boost::filesystem::remove(temporary, error);
  return !error;
}

}  // namespace hopwell
