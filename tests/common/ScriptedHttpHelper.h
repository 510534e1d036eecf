#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "net/IHttpHelper.h"
#include "net/UrlTools.h"

namespace hopwell::testing {

// An HTTP helper that answers Get from a script instead of the network and keeps what was
// asked. Like the real one it checks the allow-list (loopback simulator addresses only)
// before anything counts as sent.
class ScriptedHttpHelper : public IHttpHelper {
 public:
  struct Answer {
    HttpResult result = HttpResult::Ok;
    long status = 200;
    std::string body;
  };
  struct Sent {
    std::string url;
    HeaderList headers;
    QueryList query;
  };

  ScriptedHttpHelper()
      : IHttpHelper({Md5Hex("http://127.0.0.1:18080"), Md5Hex("https://127.0.0.1:18443")}) {}

  // Answers by URL; any other URL gets the next answer below.
  std::map<std::string, Answer> answers;
  // The next answer.
  HttpResult result = HttpResult::Ok;
  long status = 200;
  std::string body;
  std::string errorText;
  // Whether an answer reports its whole body as transferred to the progress callback.
  bool reportsProgress = false;
  std::vector<Sent> sent;

  void Prepare() override {}

  HttpResult Get(const std::string& url, std::ostream* out, ProgressCallback progress,
                 void* context, const QueryList& query, const HeaderList& headers,
                 long* statusOut) override {
    if (!IsCommunicationAllowed(url)) return HttpResult::NotAllowed;
    sent.push_back({url, headers, query});
    const auto found = answers.find(url);
    const Answer answer = found != answers.end() ? found->second : Answer{result, status, body};
    if (answer.result != HttpResult::Ok) return answer.result;
    if (out) *out << answer.body;
    if (reportsProgress && progress) {
      progress(context, answer.body.size(), answer.body.size(), 0, 0);
    }
    if (statusOut) *statusOut = answer.status;
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
