#include "plugin_save.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace standin {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Unescape(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : kEntities) {
    for (std::size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + 1)) {
      text.replace(at, std::char_traits<char>::length(entity), plain);
    }
  }
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The text of the record's element, as the open wrote it (one element per line).
std::string Element(const std::string& record, const std::string& name) {
  const std::string open = "<" + name + ">";
  const std::size_t start = record.find(open);
  if (start == std::string::npos) return {};
  const std::size_t end = record.find("</" + name + ">", start);
  if (end == std::string::npos) return {};
  return Unescape(record.substr(start + open.size(), end - start - open.size()));
}

// $TMPDIR/Kelv, else $XDG_CACHE_HOME/Kelv, else ~/.cache/Kelv, as the client finds it.
fs::path TempRoot() {
  for (const char* name : {"TMPDIR", "XDG_CACHE_HOME"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value == '/') return fs::path(value) / "Kelv";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "/tmp") / ".cache" / "Kelv";
}

std::string FileElement(const char* type, const fs::path& folder, const fs::path& file) {
  return "<File Type=\"" + std::string(type) + "\" Name=\"" +
         Escape(fs::relative(file, folder).generic_string()) + "\" Path=\"" +
         Escape(file.string()) + "\" Size=\"" + std::to_string(fs::file_size(file)) + "\"/>";
}

int Run(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

int SaveToServer(const std::string& documentPath, const std::vector<std::string>& client,
                 std::string& id) {
  std::error_code error;
  const fs::path document = fs::absolute(documentPath, error);
  const fs::path folder = document.parent_path();
  const std::string record = ReadAll(folder / "CurrentDocumentDB.xml");
  id = Element(record, "TPVID");
  const std::string jump = Element(record, "JumpLocation");
  const std::size_t host = jump.find("://");
  // The identifier names the request file: a plain name, nothing that climbs out.
  if (id.empty() || id == "." || id == ".." || id.find('/') != std::string::npos ||
      host == std::string::npos || client.empty()) {
    return -1;
  }
  const std::string platform = jump.substr(0, jump.find('/', host + 3));

  // The edit, and the PDF the plug-in exports beside the document.
  std::ofstream(document, std::ios::binary | std::ios::app) << "\nedited by the stand-in\n";
  fs::path pdf = document;
  pdf.replace_extension(".pdf");
  std::ofstream(pdf, std::ios::binary) << "%PDF-1.4 stand-in export of " << document.filename();

  std::string chapter;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    const fs::path& file = entry.path();
    // The record and the downloaded package are the client's, not the chapter's.
    if (!entry.is_regular_file() || file == pdf || file.filename() == "CurrentDocumentDB.xml" ||
        file.extension() == ".zip") {
      continue;
    }
    chapter += FileElement(file == document ? "INDD" : "LINK", folder, file);
  }
  const std::string request =
      "<?xml version=\"1.0\"?>\n<SaveToServer version=\"2\"><IDS>" +
      Escape(Element(record, "IDS")) + "</IDS><TPVID>" + Escape(id) + "</TPVID><Token>" +
      Escape(Element(record, "Token")) + "</Token><URL>" + Escape(platform) + "</URL><AppVersion>" +
      Escape(Element(record, "DocumentInDesignVersionNumberOnServer")) +
      "</AppVersion><Comment>Saved by the stand-in</Comment><CommentOption>minor</CommentOption>"
      "<PlugInList>standin</PlugInList><WorkingFolderName>" +
      Escape(folder.filename().string()) + "</WorkingFolderName><UploadFilesList><Archive>" +
      chapter + "</Archive><Archive>" + FileElement("PDF", folder, pdf) +
      "</Archive></UploadFilesList></SaveToServer>\n";
  const fs::path upload = TempRoot() / "upload";
  fs::create_directories(upload, error);
  std::ofstream out(upload / ("cgu_" + id + ".xml"), std::ios::binary);
  if (!(out << request) || !out.flush()) return -1;
  out.close();

  std::vector<std::string> command = client;
  command.push_back("kelv:save:" + id);
  return Run(command);
}

}  // namespace standin
