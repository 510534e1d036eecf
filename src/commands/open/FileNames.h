#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

namespace hopwell {

class AppCmdParameters;

// A file name safe for the editing application named by the parameters. Recent
// applications: each of / \ : * ? " < > | becomes "_". Older ones: every UTF-16 unit that is
// not an ASCII letter, digit, "_" or "." becomes "X".
std::string SanitizeFileName(AppCmdParameters& parameters, const std::string& name);

// The name the plug-in saves the document under: the document's file name without its
// extension, cut at its last "_v", sanitised.
std::string MakeSaveFileName(AppCmdParameters& parameters,
                             const boost::filesystem::path& documentPath);

}  // namespace hopwell
