#pragma once

#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace hopwell::testing {

// Runs a shell command line; returns its exit status and, in output, what it printed.
int RunCommand(const std::string& commandLine, std::string* output = nullptr);

// Runs a Python 3 program (given as source text) with the arguments appended, quoted.
int RunPython(const std::string& program, const std::vector<std::string>& arguments,
              std::string* output = nullptr);

// Single-quotes text for the shell.
std::string ShellQuote(const std::string& text);

// When $HOPWELL_FUZZ_SEEDS names a folder, keeps bytes (a table or an archive a test
// made) as a seed in its subfolder corpus for the fuzz targets; otherwise does nothing.
void KeepFuzzSeed(const std::string& corpus, const std::string& bytes);

}  // namespace hopwell::testing
