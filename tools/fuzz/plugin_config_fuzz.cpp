// libFuzzer target: PluginConfig text loading. What loads must be written and read back to
// the same sections, and the entries must survive the letter-case comparison.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands/install/PluginConfigFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  hopwell::PluginConfigFile config("/nonexistent/PluginConfig.txt", false);
  config.LoadText(text);
  const std::string written = config.ToText();
  hopwell::PluginConfigFile again("/nonexistent/PluginConfig.txt", false);
  again.LoadText(written);
  if (again.ToText() != written) std::abort();
  for (const auto& [name, entries] : config.Sections()) {
    for (const std::string& entry : entries) {
      if (!entry.empty() && !hopwell::PluginConfigFile::SameEntry(entry, entry)) std::abort();
    }
  }
  if (config.HasPathEntry(text) && config.Sections().count("=Path") == 0) std::abort();
  return 0;
}
