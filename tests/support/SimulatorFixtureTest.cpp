// What tests read back through the simulator fixture must be what the client sent.
#include <sstream>

#include <gtest/gtest.h>
#include <boost/crc.hpp>

#include "common/SimulatorTest.h"
#include "net/IHttpHelper.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

using testing::SimulatorProcess;

class SimulatorFixtureTest : public testing::SimulatorTest {};

TEST_F(SimulatorFixtureTest, BinaryBodyHeadersAndQueryComeBackExactly) {
  std::string body;
  for (int i = 0; i < 3000; ++i) body.push_back(static_cast<char>(i % 256));
  auto http = CreateHttpHelper();
  std::ostringstream answer;
  long status = 0;
  ASSERT_EQ(http->PostString(sim_->HttpUrl("/echo?n=a%20b"), "application/octet-stream", &answer,
                             body, {{"X-API-Token", "t%C3%A4"}}, &status),
            HttpResult::Ok);
  EXPECT_EQ(status, 404);  // no endpoint: the simulator still logs the request

  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/echo");
  EXPECT_EQ(request.Param("n"), "a b");
  EXPECT_EQ(request.Param("hwversion"), "1.7.1");
  EXPECT_EQ(request.Header("x-api-token"), "t%C3%A4");
  EXPECT_TRUE(request.HasHeader("Content-Length"));
  EXPECT_FALSE(request.HasHeader("Transfer-Encoding"));
  EXPECT_EQ(request.rawHead.rfind("POST /echo?n=a%20b&hwversion=1.7.1&os=linux&ver=", 0), 0u);
  EXPECT_EQ(request.rawHead.substr(request.rawHead.size() - 4), "\r\n\r\n");
  EXPECT_NE(request.rawHead.find("\r\nContent-Length: 3000\r\n"), std::string::npos);
  ASSERT_TRUE(request.bodyLogged);
  EXPECT_EQ(request.body, body);
  EXPECT_EQ(request.bodyLength, 3000u);
  boost::crc_32_type crc;
  crc.process_bytes(body.data(), body.size());
  EXPECT_EQ(request.bodyCrc32, crc.checksum());
  EXPECT_FALSE(request.chunked);
  EXPECT_EQ(request.status, 404);
  EXPECT_TRUE(request.scenario.empty());
}

TEST_F(SimulatorFixtureTest, ScenarioRulesAreReportedAndCounted) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "500", "count": 1})"));
  EXPECT_FALSE(sim_->AddScenario(R"({"mode": "no-such-mode"})"));
  auto http = CreateHttpHelper();
  long first = 0;
  long second = 0;
  ASSERT_EQ(
      http->Get(sim_->HttpUrl("/login/index.html"), nullptr, nullptr, nullptr, {}, {}, &first),
      HttpResult::Ok);
  ASSERT_EQ(
      http->Get(sim_->HttpUrl("/login/index.html"), nullptr, nullptr, nullptr, {}, {}, &second),
      HttpResult::Ok);
  EXPECT_EQ(first, 500);
  EXPECT_EQ(second, 200);
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].scenario, std::vector<std::string>{"status"});
  EXPECT_TRUE(requests[1].scenario.empty());
  EXPECT_TRUE(sim_->ClearRequests());
  EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(SimulatorFixtureTest, ParameterChangesReachTheDocument) {
  ASSERT_TRUE(sim_->SetParameters(R"({"kind": "open", "set": {"userright": "RP"}})"));
  auto http = CreateHttpHelper();
  std::ostringstream document;
  ASSERT_EQ(http->Get(sim_->HttpUrl("/c/api/v2/ext/chapter/download_parameters"), &document),
            HttpResult::Ok);
  EXPECT_NE(document.str().find("<param name=\"userright\" value=\"RP\"/>"), std::string::npos);
  ASSERT_TRUE(sim_->Reset());
  std::ostringstream again;
  ASSERT_EQ(http->Get(sim_->HttpUrl("/c/api/v2/ext/chapter/download_parameters"), &again),
            HttpResult::Ok);
  EXPECT_NE(again.str().find("<param name=\"userright\" value=\"S\"/>"), std::string::npos);
}

TEST(SimulatorProcessTest, StopReleasesPortsAndLockForTheNext) {
  // The second fixture would wait for the first's lock and find its ports taken if Stop
  // left either behind.
  SimulatorProcess first;
  std::string error;
  ASSERT_TRUE(first.Start(&error)) << error;
  first.Stop();
  SimulatorProcess second;
  ASSERT_TRUE(second.Start(&error)) << error;
  EXPECT_TRUE(second.Control("/_sim/health"));
}

}  // namespace
}  // namespace hopwell
