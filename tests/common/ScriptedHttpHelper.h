#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "net/IHttpHelper.h"
#include "net/UrlTools.h"

namespace hopwell::testing {

// An HTTP helper that answers Get from a script instead of the network. Like the real one
// it checks the allow-list (loopback simulator addresses only) before anything counts as
// sent.
class ScriptedHttpHelper : public IHttpHelper {
 public:
  struct Sent {
    std::string url;
    HeaderList headers;
    QueryList query;
  };

  ScriptedHttpHelper()
      : IHttpHelper({Md5Hex("http://127.0.0.1:18080"), Md5Hex("https://127.0.0.1:18443")}) {}

  // The next answers.
  HttpResult result = HttpResult::Ok;
  long status = 200;
  std::string body;
  std::string errorText;
  std::vector<Sent> sent;

  void Prepare() override {}

  HttpResult Get(const std::string& url, std::ostream* out, ProgressCallback, void*,
                 const QueryList& query, const HeaderList& headers, long* statusOut) override {
    if (!IsCommunicationAllowed(url)) return HttpResult::NotAllowed;
    sent.push_back({url, headers, query});
    if (result != HttpResult::Ok) return result;
    if (out) *out << body;
    if (statusOut) *statusOut = status;
    return HttpResult::Ok;
  }
  HttpResult PostStream(const std::string&, const std::string&, std::ostream*, std::istream&,
                        std::uint64_t, const HeaderList&, long*) override {
    return HttpResult::WriteFailed;
  }
  HttpResult PostString(const std::string&, const std::string&, std::ostream*, const std::string&,
                        const HeaderList&, long*) override {
    return HttpResult::WriteFailed;
  }
  HttpResult Post(const std::string&, const std::string&, std::ostream*, PostBody&,
                  const HeaderList&, ProgressCallback, void*, long*) override {
    return HttpResult::WriteFailed;
  }
  HttpResult PostMultipart(const std::string&, std::ostream*, const FileList&, const FieldList&,
                           const HeaderList&, ProgressCallback, void*, long*) override {
    return HttpResult::WriteFailed;
  }
  std::string ErrorText(HttpResult) override { return errorText; }
};

}  // namespace hopwell::testing
