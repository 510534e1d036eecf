#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "base/FrontEnd.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "net/HttpTestSupport.h"

namespace hopwell {
namespace {

using testing::HelperFor;
using testing::WireServer;

// Answers the proxy prompt with a fixed choice and counts the prompts.
class ProxyAnswerFrontEnd : public SilentFrontEnd {
 public:
  explicit ProxyAnswerFrontEnd(ProxyAnswer answer) : answer_(answer) {}
  ProxyAnswer AskProxyCredentials(const std::string&, ProxyCredentials& credentials) override {
    ++prompts;
    credentials = {"puser", "ppass"};
    return answer_;
  }
  int prompts = 0;

 private:
  ProxyAnswer answer_;
};

class HttpProxy : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(proxy_.Running()); }
  void TearDown() override { SetFrontEnd(nullptr); }

  WireServer proxy_;
  testing::ScopedEnv httpProxy_{"http_proxy", "http://127.0.0.1:" + std::to_string(proxy_.Port())};
  testing::ScopedEnv noProxy_{"no_proxy", ""};
  testing::ScopedEnv noProxyUpper_{"NO_PROXY", ""};
  // The origin behind the proxy; nothing listens there, the proxy answers for it.
  const std::string origin_ = "http://127.0.0.1:18080";
};

TEST_F(HttpProxy, RetryWithCredentialsSendsTheSameRequestAgain) {
  auto frontEnd = std::make_shared<ProxyAnswerFrontEnd>(ProxyAnswer::Retry);
  SetFrontEnd(frontEnd);
  auto helper = HelperFor({origin_});
  std::ostringstream out;
  long status = 0;
  testing::LogCapture log;
  ASSERT_EQ(helper->Get(origin_ + "/login/index.html", &out, nullptr, nullptr, {},
                        {{"X-Test", "asdf"}}, &status),
            HttpResult::Ok);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(out.str(), "proxied");  // the 407 page is not part of the answer
  EXPECT_EQ(frontEnd->prompts, 1);
  EXPECT_TRUE(log.Has("info", "Retrying..."));
  const auto requests = proxy_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("X-Test:asdf\r\n"), std::string::npos);
  EXPECT_NE(requests[1].find("X-Test:asdf\r\n"), std::string::npos);
  EXPECT_NE(requests[1].find("Proxy-Authorization: Basic cHVzZXI6cHBhc3M=\r\n"), std::string::npos);
}

TEST_F(HttpProxy, CancelledPromptReadsThe407Page) {
  auto frontEnd = std::make_shared<ProxyAnswerFrontEnd>(ProxyAnswer::Cancelled);
  SetFrontEnd(frontEnd);
  auto helper = HelperFor({origin_});
  std::ostringstream out;
  long status = 0;
  testing::LogCapture log;
  ASSERT_EQ(helper->Get(origin_ + "/x", &out, nullptr, nullptr, {}, {}, &status), HttpResult::Ok);
  EXPECT_EQ(status, 407);
  EXPECT_EQ(out.str(), "proxy auth");
  EXPECT_TRUE(log.Has("info", "User cancelled the InternetErrorDlg"));
  EXPECT_EQ(proxy_.Requests().size(), 1u);
}

TEST_F(HttpProxy, OtherAnswerAlsoReadsThePageWithoutRetrying) {
  SetFrontEnd(std::make_shared<ProxyAnswerFrontEnd>(ProxyAnswer::Other));
  auto helper = HelperFor({origin_});
  long status = 0;
  ASSERT_EQ(helper->Get(origin_ + "/x", nullptr, nullptr, nullptr, {}, {}, &status),
            HttpResult::Ok);
  EXPECT_EQ(status, 407);
  EXPECT_EQ(proxy_.Requests().size(), 1u);
}

TEST_F(HttpProxy, PromptThatThrowsDoesNotEscapeGet) {
  class Throwing : public ProxyAnswerFrontEnd {
   public:
    Throwing() : ProxyAnswerFrontEnd(ProxyAnswer::Retry) {}
    ProxyAnswer AskProxyCredentials(const std::string&, ProxyCredentials&) override {
      throw std::runtime_error("no display");
    }
  };
  SetFrontEnd(std::make_shared<Throwing>());
  auto helper = HelperFor({origin_});
  long status = 0;
  std::ostringstream out;
  HttpResult result = HttpResult::ReadFailed;
  EXPECT_NO_THROW(result = helper->Get(origin_ + "/x", &out, nullptr, nullptr, {}, {}, &status));
  EXPECT_EQ(result, HttpResult::Ok);  // treated like a prompt that gave no credentials
  EXPECT_EQ(status, 407);
}

class HttpTls : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  testing::TestCertificates certificates_{dir_.path()};
};

TEST_F(HttpTls, VerifiesTheServerAgainstTheConfiguredCa) {
  ASSERT_TRUE(certificates_.ok) << "openssl could not make the test certificates";
  WireServer server(certificates_.certFile, certificates_.keyFile);
  ASSERT_TRUE(server.Running());
  auto helper = HelperFor({server.Origin()}, certificates_.caFile);
  std::ostringstream out;
  long status = 0;
  ASSERT_EQ(helper->Get(server.Origin() + "/bytes?n=3", &out, nullptr, nullptr, {}, {}, &status),
            HttpResult::Ok);
  EXPECT_EQ(out.str(), testing::Pattern251(3));
  ASSERT_EQ(helper->PostString(server.Origin() + "/p", "text/plain", &out, "abc"), HttpResult::Ok);
}

TEST_F(HttpTls, UntrustedCertificateIsRefused) {
  ASSERT_TRUE(certificates_.ok);
  WireServer server(certificates_.certFile, certificates_.keyFile);
  ASSERT_TRUE(server.Running());
  // The system's store does not know the test CA: verification fails, nothing is read.
  auto helper = HelperFor({server.Origin()});
  std::ostringstream out;
  EXPECT_EQ(helper->Get(server.Origin() + "/bytes?n=3", &out), HttpResult::SendFailed);
  EXPECT_EQ(helper->PostString(server.Origin() + "/p", "text/plain", &out, "abc"),
            HttpResult::WriteFailed);
  EXPECT_EQ(out.str(), "");
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace hopwell
