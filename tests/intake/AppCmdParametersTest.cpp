#include "intake/AppCmdParameters.h"

#include <sstream>

#include <gtest/gtest.h>

namespace hopwell {
namespace {

struct Parsed {
  explicit Parsed(const std::string& params)
      : in("<data><params>" + params + "</params></data>"), document(in) {}
  std::istringstream in;
  AppCmdParameters document;
};

std::string Param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + value + "\"/>";
}

TEST(AppCmdParametersTest, NamedGettersReadTheirKeys) {
  Parsed p(Param("appname", "N") + Param("appquery", "Q") + Param("appversion", "21.2") +
           Param("appversionstring", "2026") + Param("appdefaultpath", "/opt/a") +
           Param("additionalappname", "AN") + Param("additionalappquery", "AQ") +
           Param("additionalappdefaultpath", "/opt/b") + Param("documenttype", "INDESIGN") +
           Param("userright", "RP"));
  EXPECT_EQ(p.document.AppName(), "N");
  EXPECT_EQ(p.document.AppQuery(), "Q");
  EXPECT_EQ(p.document.AppVersion(), "21.2");
  EXPECT_EQ(p.document.AppVersionString(), "2026");
  EXPECT_EQ(p.document.AppDefaultPath(), "/opt/a");
  EXPECT_EQ(p.document.AdditionalAppName(), "AN");
  EXPECT_EQ(p.document.AdditionalAppQuery(), "AQ");
  EXPECT_EQ(p.document.AdditionalAppDefaultPath(), "/opt/b");
  EXPECT_EQ(p.document.DocumentType(), "INDESIGN");
  EXPECT_EQ(p.document.UserRightText(), "RP");
}

TEST(AppCmdParametersTest, UserRightCodes) {
  const std::pair<const char*, int> cases[] = {{"L", 0},  {"l", 0},  {"S", 1},  {"s", 1},
                                               {"RP", 2}, {"rp", 2}, {"Rp", 3}, {"rP", 3},
                                               {"", 3},   {"X", 3},  {"LS", 3}, {" L", 3}};
  for (const auto& [text, code] : cases) {
    SCOPED_TRACE(text);
    Parsed p(Param("userright", text));
    EXPECT_EQ(p.document.GetUserRight(), code);
  }
  Parsed missing("");
  EXPECT_EQ(missing.document.GetUserRight(), AppCmdParameters::kUnknownRight);
}

TEST(AppCmdParametersTest, UserRightWrittenBack) {
  EXPECT_EQ(AppCmdParameters::UserRightToString(0), "L");
  EXPECT_EQ(AppCmdParameters::UserRightToString(1), "S");
  EXPECT_EQ(AppCmdParameters::UserRightToString(2), "RP");
  EXPECT_EQ(AppCmdParameters::UserRightToString(3), "");
  EXPECT_EQ(AppCmdParameters::UserRightToString(-1), "");
  // Reading a written-back code gives the code again.
  for (int code = 0; code < 3; ++code) {
    Parsed p(Param("userright", AppCmdParameters::UserRightToString(code)));
    EXPECT_EQ(p.document.GetUserRight(), code);
  }
}

TEST(AppCmdParametersTest, DocumentTypeIsCaseSensitive) {
  const std::pair<const char*, AppCmdParameters::DocumentTypeCode> cases[] = {
      {"INDESIGN", AppCmdParameters::INDESIGN},
      {"indesign", AppCmdParameters::UNKNOWN_DOCUMENT_TYPE},
      {"INCOPY", AppCmdParameters::UNKNOWN_DOCUMENT_TYPE},
      {"", AppCmdParameters::UNKNOWN_DOCUMENT_TYPE},
      {"INDESIGN ", AppCmdParameters::UNKNOWN_DOCUMENT_TYPE}};
  for (const auto& [text, code] : cases) {
    SCOPED_TRACE(text);
    Parsed p(Param("documenttype", text));
    EXPECT_EQ(p.document.GetDocumentType(), code);
  }
}

TEST(AppCmdParametersTest, MajorVersionAndRecentApplication) {
  struct Case {
    const char* version;
    const char* major;
    bool recent;
  };
  const Case cases[] = {
      {"21.0", "21", true},    {"21", "21", true},      {"20.9.1", "20", false},
      {"20", "20", false},     {"19.5", "19", false},   {"100.1", "100", true},
      {"abc.1", "abc", false}, {"", "", false},         {".21", "", false},
      {"21a.0", "21a", false}, {"-25.0", "-25", false}, {"99999999999.0", "99999999999", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    Parsed p(Param("appversion", c.version));
    EXPECT_EQ(p.document.AppMajorVersion(), c.major);
    EXPECT_EQ(p.document.IsRecentApplication(), c.recent);
  }
}

}  // namespace
}  // namespace hopwell
