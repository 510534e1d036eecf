#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "base/FrontEnd.h"
#include "common/LogCapture.h"
#include "net/HttpTestSupport.h"

namespace hopwell {
namespace {

using testing::HelperFor;
using testing::WireServer;

class HttpGet : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Running()) << "wire_server.py did not start"; }
  WireServer server_;
};

TEST_F(HttpGet, SendsTheExactRequestAndReadsTheBody) {
  auto helper = HelperFor({server_.Origin()});
  std::ostringstream out;
  long status = 0;
  testing::LogCapture log;
  const HttpResult result =
      helper->Get(server_.Origin() + "/bytes?n=10", &out, nullptr, nullptr, {{"q", "a b"}},
                  {{"X-API-Token", "t%2F1"}, {"X-Test", "asdf"}, {"X-Empty", ""}}, &status);
  ASSERT_EQ(result, HttpResult::Ok);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(out.str(), testing::Pattern251(10));

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET /bytes?n=10&q=a%20b&" + testing::IdentificationQuery() +
                             " HTTP/1.1\r\n" + testing::StandardHeaders(server_) +
                             "X-API-Token:t%2F1\r\nX-Test:asdf\r\nX-Empty:\r\n\r\n");
  const std::string port = std::to_string(server_.Port());
  EXPECT_TRUE(log.HasFragment("info", "Cracking URL " + server_.Origin() + "/bytes?n=10&q=a%20b&"));
  EXPECT_TRUE(log.Has("info", "InternetConnect: 127.0.0.1:" + port));
  EXPECT_TRUE(log.HasFragment("info", "HttpOpenRequest: GET /bytes?n=10&q="));
  for (const char* line :
       {"InternetOpen", "Sending request", "HttpSendRequest", "HTTP_QUERY_STATUS_CODE: 200",
        "ReadRequest", "Downloading 10 bytes", "Received 10 bytes", "Received 0 bytes"}) {
    EXPECT_TRUE(log.Has("info", line)) << line;
  }
}

TEST_F(HttpGet, ProgressSeesPiecesOf8192AndAFinalEmptyRead) {
  auto helper = HelperFor({server_.Origin()});
  const std::size_t size = 3 * 8192 + 100;
  std::ostringstream out;
  testing::ProgressLog progress;
  ASSERT_EQ(helper->Get(server_.Origin() + "/bytes?n=" + std::to_string(size), &out,
                        &testing::ProgressLog::Record, &progress),
            HttpResult::Ok);
  EXPECT_EQ(out.str(), testing::Pattern251(size));
  ASSERT_EQ(progress.calls.size(), 5u);
  const std::uint64_t expected[] = {8192, 16384, 24576, size, size};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(progress.calls[i].downloadTotal, size);
    EXPECT_EQ(progress.calls[i].downloaded, expected[i]);
    EXPECT_EQ(progress.calls[i].uploadTotal, 0u);
  }
}

TEST_F(HttpGet, ChunkedAnswerIsReadToItsEndWithTotalZero) {
  auto helper = HelperFor({server_.Origin()});
  std::ostringstream out;
  testing::ProgressLog progress;
  testing::LogCapture log;
  ASSERT_EQ(helper->Get(server_.Origin() + "/chunked?n=20000", &out, &testing::ProgressLog::Record,
                        &progress),
            HttpResult::Ok);
  EXPECT_EQ(out.str(), testing::Pattern251(20000));
  ASSERT_FALSE(progress.calls.empty());
  for (const auto& call : progress.calls) EXPECT_EQ(call.downloadTotal, 0u);
  EXPECT_EQ(progress.calls.back().downloaded, 20000u);
  EXPECT_TRUE(log.Has("error", "HttpQueryInfo returned an error"));
  EXPECT_TRUE(log.Has("info", "Downloading 0 bytes"));
}

TEST_F(HttpGet, ErrorStatusStillReadsThePage) {
  auto helper = HelperFor({server_.Origin()});
  for (const long code : {404L, 500L, 403L}) {
    std::ostringstream out;
    long status = 0;
    testing::LogCapture log;
    EXPECT_EQ(helper->Get(server_.Origin() + "/status/" + std::to_string(code), &out, nullptr,
                          nullptr, {}, {}, &status),
              HttpResult::Ok);
    EXPECT_EQ(status, code);
    EXPECT_EQ(out.str(), "error page " + std::to_string(code));
    EXPECT_TRUE(log.Has("info", "Don't know how to handle: " + std::to_string(code)));
  }
}

TEST_F(HttpGet, NullOutputDropsTheBody) {
  auto helper = HelperFor({server_.Origin()});
  testing::ProgressLog progress;
  EXPECT_EQ(helper->Get(server_.Origin() + "/bytes?n=9000", nullptr, &testing::ProgressLog::Record,
                        &progress),
            HttpResult::Ok);
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.back().downloaded, 9000u);
}

TEST_F(HttpGet, TruncatedBodyIsAReadFailureKeepingWhatArrived) {
  auto helper = HelperFor({server_.Origin()});
  std::ostringstream out;
  testing::LogCapture log;
  EXPECT_EQ(helper->Get(server_.Origin() + "/truncated", &out), HttpResult::ReadFailed);
  EXPECT_EQ(out.str(), "0123456789");
  EXPECT_TRUE(log.Has("error", "Failed to read request"));
  EXPECT_FALSE(helper->ErrorText(HttpResult::ReadFailed).empty());
}

TEST_F(HttpGet, FailingOutputStreamIsNotReportedAsSuccess) {
  auto helper = HelperFor({server_.Origin()});
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_EQ(helper->Get(server_.Origin() + "/bytes?n=100000", &out), HttpResult::ReadFailed);
}

TEST_F(HttpGet, OutputStreamThatThrowsIsReportedByResult) {
  auto helper = HelperFor({server_.Origin()});
  struct Throwing : std::streambuf {
    int overflow(int) override { throw std::runtime_error("disk full"); }
    std::streamsize xsputn(const char*, std::streamsize) override {
      throw std::runtime_error("disk full");
    }
  } failing;
  std::ostream stream(&failing);
  stream.exceptions(std::ios::badbit);
  HttpResult result = HttpResult::Ok;
  EXPECT_NO_THROW(result = helper->Get(server_.Origin() + "/bytes?n=100000", &stream));
  EXPECT_EQ(result, HttpResult::ReadFailed);
}

TEST_F(HttpGet, ClosedConnectionBeforeAnswerIsASendFailure) {
  auto helper = HelperFor({server_.Origin()});
  testing::LogCapture log;
  EXPECT_EQ(helper->Get(server_.Origin() + "/close", nullptr), HttpResult::SendFailed);
  EXPECT_TRUE(log.Has("error", "HttpSendRequest FAILED"));
  EXPECT_TRUE(log.HasFragment("error", "Logging error: 0x"));
  EXPECT_FALSE(helper->ErrorText(HttpResult::SendFailed).empty());
}

TEST(HttpGetNoServer, RefusedConnectionIsASendFailure) {
  // A port nobody listens on: bind one and close it again.
  int port = 0;
  {
    WireServer gone;
    port = gone.Port();
  }
  const std::string origin = "http://127.0.0.1:" + std::to_string(port);
  auto helper = HelperFor({origin});
  EXPECT_EQ(helper->Get(origin + "/x", nullptr), HttpResult::SendFailed);
}

TEST_F(HttpGet, RedirectsWithinTheAllowListAreFollowed) {
  auto helper = HelperFor({server_.Origin()});
  std::ostringstream out;
  long status = 0;
  const std::string target = UrlEscape(server_.Origin() + "/bytes?n=5");
  EXPECT_EQ(helper->Get(server_.Origin() + "/redirect?to=" + target, &out, nullptr, nullptr, {},
                        {{"X-Test", "asdf"}}, &status),
            HttpResult::Ok);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(out.str(), testing::Pattern251(5));  // the 302's own body is not kept
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].rfind("GET /bytes?n=5 HTTP/1.1\r\n", 0), 0u) << requests[1];
}

TEST_F(HttpGet, RedirectOutsideTheAllowListIsRefusedBeforeConnecting) {
  WireServer outside;
  ASSERT_TRUE(outside.Running());
  auto helper = HelperFor({server_.Origin()});
  for (const std::string& to : {outside.Origin() + "/steal",
                                "http://127.0.0.1:" + std::to_string(server_.Port()) +
                                    "@127.0.0.1:" + std::to_string(outside.Port()) + "/x",
                                std::string("ftp://127.0.0.1/x")}) {
    std::ostringstream out;
    testing::LogCapture log;
    EXPECT_EQ(helper->Get(server_.Origin() + "/redirect?to=" + UrlEscape(to), &out),
              HttpResult::NotAllowed)
        << to;
    EXPECT_TRUE(log.HasFragment("warning", "Communication is not allowed (")) << to;
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_TRUE(outside.Requests().empty());
}

TEST_F(HttpGet, RedirectLoopStopsAfterTenHops) {
  auto helper = HelperFor({server_.Origin()});
  std::ostringstream out;
  long status = 0;
  EXPECT_EQ(helper->Get(server_.Origin() + "/loop", &out, nullptr, nullptr, {}, {}, &status),
            HttpResult::Ok);
  EXPECT_EQ(status, 302);
  EXPECT_EQ(server_.Requests().size(), 11u);  // the first request and ten redirects
  EXPECT_EQ(out.str(), "again");
}

TEST_F(HttpGet, HeaderLineBreaksAreRefused) {
  auto helper = HelperFor({server_.Origin()});
  EXPECT_EQ(helper->Get(server_.Origin() + "/x", nullptr, nullptr, nullptr, {},
                        {{"X-A", "v\r\nX-Injected: 1"}}),
            HttpResult::AddHeadersFailed);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpGet, DisallowedUrlReachesNoServer) {
  auto helper = HelperFor({"http://127.0.0.1:1"});
  testing::LogCapture log;
  EXPECT_EQ(helper->Get(server_.Origin() + "/x", nullptr), HttpResult::NotAllowed);
  EXPECT_EQ(helper->PostString(server_.Origin() + "/x", "text/plain", nullptr, "body"),
            HttpResult::NotAllowed);
  EXPECT_EQ(helper->PostMultipart(server_.Origin() + "/x", nullptr), HttpResult::NotAllowed);
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(log.Has("warning", "Communication is not allowed (" + server_.Origin() + "/x)"));
}

TEST_F(HttpGet, AllowedUrlThatCannotBeSplitIsRefused) {
  auto helper = HelperFor({server_.Origin()});
  testing::LogCapture log;
  EXPECT_EQ(helper->Get(server_.Origin() + "/a b", nullptr), HttpResult::NotAllowed);
  EXPECT_TRUE(log.HasFragment("error", "Cannot split the URL"));
  EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace
}  // namespace hopwell
