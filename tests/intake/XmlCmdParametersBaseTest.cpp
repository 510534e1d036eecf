#include "intake/XmlCmdParametersBase.h"

#include <sstream>

#include <gtest/gtest.h>

#include "common/LogCapture.h"

namespace hopwell {
namespace {

using testing::LogCapture;

std::string Document(const std::string& params) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<data>\n  <params>\n" + params +
         "  </params>\n</data>\n";
}

std::string Param(const std::string& name, const std::string& value) {
  return "    <param name=\"" + name + "\" value=\"" + value + "\"/>\n";
}

// Builds the document from text and keeps the stream alive as long as the object.
struct Parsed {
  explicit Parsed(const std::string& text) : in(text), document(in) {}
  std::istringstream in;
  XmlCmdParametersBase document;
};

TEST(XmlCmdParametersBaseTest, ReadsValuesByExactName) {
  Parsed p(Document(Param("appname", "Adobe InDesign 2026") + Param("AppName", "other") +
                    Param("spaced", "  two  words ")));
  EXPECT_TRUE(p.document.IsInitialized());
  EXPECT_EQ(p.document.GetValue("appname"), "Adobe InDesign 2026");
  EXPECT_EQ(p.document.GetValue("AppName"), "other");
  // White space inside values stays exactly as written.
  EXPECT_EQ(p.document.GetValue("spaced"), "  two  words ");
  EXPECT_EQ(p.document.GetValue("APPNAME"), "");
}

TEST(XmlCmdParametersBaseTest, FirstOfTwoSameNamedParametersWins) {
  Parsed p(Document(Param("appversion", "21.0") + Param("appversion", "19.0")));
  EXPECT_EQ(p.document.GetValue("appversion"), "21.0");
}

TEST(XmlCmdParametersBaseTest, ElementNamesOfChildrenAreNotExamined) {
  Parsed p(
      Document("    <entry name=\"a\" value=\"1\"/>\n    <x name=\"b\" value=\"2\">text</x>\n"));
  EXPECT_EQ(p.document.GetValue("a"), "1");
  EXPECT_EQ(p.document.GetValue("b"), "2");
}

TEST(XmlCmdParametersBaseTest, DecodesEntitiesAndUtf8) {
  Parsed p(
      Document(Param("url", "http://h/x?a=1&amp;b=2") + Param("name", "K\xC3\xA4se &lt;1&gt;")));
  EXPECT_EQ(p.document.GetValue("url"), "http://h/x?a=1&b=2");
  EXPECT_EQ(p.document.GetValue("name"), "K\xC3\xA4se <1>");
}

// A comment or a child without a name must not hide the parameters that follow it.
TEST(XmlCmdParametersBaseTest, CommentsAndNamelessChildrenDoNotHideLaterParameters) {
  LogCapture log;
  Parsed p(Document(Param("first", "1") + "    <!-- the application -->\n" +
                    "    <param value=\"orphan\"/>\n" + "    <param/>\n" +
                    Param("appname", "InCopy")));
  EXPECT_EQ(p.document.GetValue("first"), "1");
  EXPECT_EQ(p.document.GetValue("appname"), "InCopy");
  EXPECT_FALSE(log.HasFragment("warning", "Couldn't find parameter"));
}

TEST(XmlCmdParametersBaseTest, MatchingChildWithoutValueGivesEmpty) {
  LogCapture log;
  Parsed p(Document("    <param name=\"novalue\"/>\n" + Param("novalue", "later")));
  EXPECT_EQ(p.document.GetValue("novalue"), "");
  EXPECT_TRUE(log.Has("warning", "Couldn't find parameter novalue"));
}

TEST(XmlCmdParametersBaseTest, MissingParameterIsLoggedOnceAndCached) {
  LogCapture log;
  Parsed p(Document(Param("empty", "")));
  EXPECT_EQ(p.document.GetValue("missing"), "");
  EXPECT_EQ(p.document.GetValue("missing"), "");
  EXPECT_EQ(p.document.GetValue("empty"), "");
  int missing = 0;
  for (const auto& record : log.Records()) {
    if (record.message == "Couldn't find parameter missing") ++missing;
  }
  EXPECT_EQ(missing, 1);
  EXPECT_TRUE(log.Has("warning", "Couldn't find parameter empty"));
}

TEST(XmlCmdParametersBaseTest, NotWellFormedDocumentIsNotInitialized) {
  for (const std::string& text : {std::string(), std::string("  \n"), std::string("<!-- c -->"),
                                  std::string("not xml at all <"),
                                  std::string("<data><params><param name=\"a\" value=\"1\"/>"),
                                  std::string("<html><body>500 Internal Server Error</body>")}) {
    SCOPED_TRACE(text);
    LogCapture log;
    Parsed p(text);
    EXPECT_FALSE(p.document.IsInitialized());
    EXPECT_TRUE(log.HasFragment("warning", "Could not initialize parameters: "));
    EXPECT_EQ(p.document.GetValue("a"), "");
    EXPECT_EQ(p.document.GetValue("a"), "");
    // Nothing is cached while not initialized: every lookup says so.
    int notInitialized = 0;
    for (const auto& record : log.Records()) {
      if (record.severity == "warning" && record.message == "Not initialized") ++notInitialized;
    }
    EXPECT_EQ(notInitialized, 2);
    EXPECT_TRUE(p.document.GetBool("a"));
    EXPECT_EQ(p.document.GetInt("a"), -1);
  }
}

TEST(XmlCmdParametersBaseTest, DocumentWithoutParamsReportsTheMissingPath) {
  for (const std::string& text :
       {std::string("<data/>"), std::string("<other><params/></other>")}) {
    SCOPED_TRACE(text);
    LogCapture log;
    Parsed p(text);
    EXPECT_TRUE(p.document.IsInitialized());
    EXPECT_EQ(p.document.GetValue("appname"), "");
    EXPECT_TRUE(log.Has("warning", "No such node (data.params)"));
    EXPECT_TRUE(log.Has("warning", "Couldn't find parameter appname"));
  }
}

struct BoolCase {
  const char* value;
  bool expected;
};

TEST(XmlCmdParametersBaseTest, GetBool) {
  const BoolCase cases[] = {{"true", true},   {"TRUE", true},  {"tRuE", true}, {"", true},
                            {"false", false}, {"yes", false},  {"1", false},   {"true ", false},
                            {" true", false}, {"truex", false}};
  for (const BoolCase& c : cases) {
    SCOPED_TRACE(c.value);
    Parsed p(Document(Param("flag", c.value)));
    EXPECT_EQ(p.document.GetBool("flag"), c.expected);
  }
  Parsed missing(Document(""));
  EXPECT_TRUE(missing.document.GetBool("flag"));
}

struct IntCase {
  const char* value;
  int expected;
};

TEST(XmlCmdParametersBaseTest, GetInt) {
  const IntCase cases[] = {{"12ab", 12},
                           {"abc", 0},
                           {"42", 42},
                           {"-7", -7},
                           {"  5", 5},
                           {"+3", 3},
                           {"0x10", 0},
                           {"3.9", 3},
                           {"", -1},
                           {"99999999999999", 2147483647},
                           {"-99999999999999", -2147483647 - 1}};
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.value);
    Parsed p(Document(Param("n", c.value)));
    EXPECT_EQ(p.document.GetInt("n"), c.expected);
  }
  Parsed missing(Document(""));
  EXPECT_EQ(missing.document.GetInt("n"), -1);
}

}  // namespace
}  // namespace hopwell
