#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "net/IHttpHelper.h"
#include "net/UrlTools.h"

namespace hopwell::testing {

// An HTTP helper that answers Get from a table of URLs instead of the network and keeps
// what was asked. Unknown URLs answer 404 with an error page.
class FakeHttpHelper : public IHttpHelper {
 public:
  struct Answer {
    HttpResult result = HttpResult::Ok;
    long status = 200;
    std::string body;
  };
  struct Sent {
    std::string url;
    HeaderList headers;
  };

  FakeHttpHelper() : IHttpHelper({Md5Hex("http://127.0.0.1:18080")}) {}

  std::map<std::string, Answer> answers;
  std::vector<Sent> sent;
  std::string errorText = "transfer failed";

  void Prepare() override {}
  HttpResult Get(const std::string& url, std::ostream* out, ProgressCallback progress,
                 void* context, const QueryList&, const HeaderList& headers,
                 long* status) override {
    sent.push_back({url, headers});
    const auto found = answers.find(url);
    const Answer answer =
        found != answers.end() ? found->second : Answer{HttpResult::Ok, 404, "<html>404</html>"};
    if (answer.result != HttpResult::Ok) return answer.result;
    if (out != nullptr) *out << answer.body;
    if (progress != nullptr) progress(context, answer.body.size(), answer.body.size(), 0, 0);
    if (status != nullptr) *status = answer.status;
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
