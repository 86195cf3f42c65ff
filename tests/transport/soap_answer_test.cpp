// The verdict on a saved answer: whole envelopes, HTML pages, cut answers and
// Faults, and the status code taken from the response's own status element
// whatever the item's text holds; each answer as the server sends it and as
// the response writer stores it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/host_fixture.h"
#include "transport/answer_store.h"
#include "transport/http_transfer.h"
#include "transport/soap_answer.h"

namespace {

using testing_support::WriteFileBytes;

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body>";
const char kTail[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

// A getItemResponse holding `item`, with the status code `code`.
std::string ItemAnswer(const std::string &item, const std::string &code) {
  return std::string(kHead) + "<gwm:getItemResponse><gwm:item xsi:type=\"gwt:Mail\">" + item +
         "</gwm:item><gwm:status><gwt:code>" + code + "</gwt:code></gwm:status>" +
         "</gwm:getItemResponse>" + kTail;
}

// The answer as the response writer stores it: every tag on a line.
std::string Reshaped(const std::string &raw, const std::string &path) {
  FILE *file = fopen(path.c_str(), "wb");
  if (file == nullptr) return "";
  ResponseWriterBegin(file);
  ResponseWriterWrite(raw.data(), raw.size());
  ResponseWriterEnd();
  fclose(file);
  return testing_support::ReadFileBytes(path);
}

TEST(SoapAnswer, ShapeAndStatusCodeOfSavedAnswers) {
  const std::string whole = ItemAnswer("<gwt:subject>Hi</gwt:subject>", "0");
  const struct {
    const char *why;
    std::string answer;
    int shape;
    int code;
    const char *faultText;
  } cases[] = {
      {"a whole answer with status 0", whole, kAnswerWhole, 0, ""},
      {"a refusal is a whole answer with its code", ItemAnswer("", "59906"), kAnswerWhole, 59906,
       ""},
      {"a code line in the subject is text, not the status",
       ItemAnswer("<gwt:subject>x\n&lt;gwt:code&gt;\n59905</gwt:subject>", "0"), kAnswerWhole, 0,
       ""},
      {"the item's own status and a code nested in its content do not count",
       ItemAnswer("<gwt:status><gwt:read>1</gwt:read></gwt:status>"
                  "<gwt:attachments><gwt:status><gwt:code>59905</gwt:code></gwt:status>"
                  "</gwt:attachments>",
                  "0"),
       kAnswerWhole, 0, ""},
      {"a status under the body itself counts (a refusal sent without a response element)",
       std::string(kHead) + "<gwm:status><gwt:code>53505</gwt:code></gwm:status>" + kTail,
       kAnswerWhole, 53505, ""},
      {"markup in comments and quoted attribute values is not read as elements",
       std::string(kHead) + "<!-- </SOAP-ENV:Envelope> --><gwm:getItemResponse>"
           "<gwm:item a=\"1>2\" b='</x>'/><gwm:status><gwt:code> 0 </gwt:code></gwm:status>"
           "</gwm:getItemResponse>" + kTail,
       kAnswerWhole, 0, ""},
      {"a slash inside quotes does not empty an element, one before \">\" outside them does",
       std::string(kHead) + "<gwm:getItemResponse><gwm:item a='/' /><gwm:status x=\"/\" >"
           "<gwt:code b=\"/\"\t>7</gwt:code></gwm:status></gwm:getItemResponse>" + kTail,
       kAnswerWhole, 7, ""},
      {"an HTML error page", "<!DOCTYPE html>\n<html><body><h1>Bad Gateway</h1></body></html>\n",
       kAnswerNotSoap, 0, ""},
      {"an empty answer", "", kAnswerNotSoap, 0, ""},
      {"an envelope without a body", "<soap:Envelope><soap:Header/></soap:Envelope>",
       kAnswerNotSoap, 0, ""},
      {"cut right after the status code", whole.substr(0, whole.find("</gwm:status>")),
       kAnswerCut, 0, ""},
      {"cut inside the item", whole.substr(0, whole.find("Hi")), kAnswerCut, 0, ""},
      {"cut inside the last end tag", whole.substr(0, whole.size() - 3), kAnswerCut, 0, ""},
      {"a Fault sent with HTTP 200",
       std::string(kHead) + "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
           "<faultstring>Database busy</faultstring></SOAP-ENV:Fault>" + kTail,
       kAnswerFault, 0, "Database busy"},
      {"a whole answer without a status", std::string(kHead) + "<gwm:getItemResponse/>" + kTail,
       kAnswerNoStatus, 0, ""},
      {"a status without a code",
       std::string(kHead) + "<gwm:getItemResponse><gwm:status><gwt:description>x"
           "</gwt:description></gwm:status></gwm:getItemResponse>" + kTail,
       kAnswerNoStatus, 0, ""},
      {"a code that is not a number", ItemAnswer("", "0x1"), kAnswerNoStatus, 0, ""},
      {"a code too long for a number", ItemAnswer("", "99999999999"), kAnswerNoStatus, 0, ""},
  };
  testing_support::TestHost host;
  const std::string raw = host.workDir() + "raw.xml", lines = host.workDir() + "lines.xml";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_TRUE(WriteFileBytes(raw, c.answer));
    Reshaped(c.answer, lines);
    for (const std::string &path : {raw, lines}) {
      SCOPED_TRACE(path);
      SoapAnswer answer;
      ReadSoapAnswer(path.c_str(), &answer);
      EXPECT_EQ(answer.shape, c.shape);
      EXPECT_EQ(answer.code, c.code);
      EXPECT_STREQ(answer.faultText, c.faultText);
    }
    // Taken while the answer is written, in pieces that split tags and texts:
    // the same verdict without reading the answer again.
    for (size_t piece : {size_t{1}, size_t{7}, c.answer.size() + 1}) {
      SCOPED_TRACE(piece);
      ASSERT_EQ(AnswerBegin(lines.c_str()), 1);
      ResponseWriterBeginAnswer();
      for (size_t at = 0; at < c.answer.size(); at += piece) {
        ResponseWriterWrite(c.answer.data() + at, std::min(piece, c.answer.size() - at));
      }
      ResponseWriterEnd();
      ASSERT_EQ(AnswerEnd(), 1);
      SoapAnswer answer;
      TakeSoapAnswerVerdict(&answer);
      EXPECT_EQ(answer.shape, c.shape);
      EXPECT_EQ(answer.code, c.code);
      EXPECT_STREQ(answer.faultText, c.faultText);
    }
    ForgetAnswer(lines.c_str());
  }
  // Nothing written since the scan began: no envelope.
  BeginSoapAnswerScan();
  SoapAnswer empty;
  TakeSoapAnswerVerdict(&empty);
  EXPECT_EQ(empty.shape, kAnswerNotSoap);
  SoapAnswer missing;
  ReadSoapAnswer((host.workDir() + "none.xml").c_str(), &missing);
  EXPECT_EQ(missing.shape, kAnswerNotSoap);
}

}  // namespace
