// The simulator's listener: recording of requests, faults for what is no
// SOAP request, keep-alive and Stop.
#include <chrono>
#include <map>

#include "gwsim_client.h"

namespace {

using gwsim_test::Client;
using gwsim_test::Envelope;

TEST(RecordingTest, RecordsEveryRequestByteForByte) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  Client client;
  std::string large(3 * 1024 * 1024 + 7, 'A');  // over 1 MB: libcurl expects "100 Continue"
  for (size_t i = 0; i < large.size(); i += 997) large[i] = static_cast<char>('a' + i % 26);
  struct Case {
    std::string body;
    const char *requestName;
    long status;  // 500 comes with a SOAP fault
  } cases[] = {
      // CR LF, trailing blanks, UTF-8 and an unprefixed request element
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<soap:Envelope "
       "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">  \r\n<soap:Body>"
       "<getItemsRequest><container>M\xC3\xBCller</container></getItemsRequest>"
       "</soap:Body></soap:Envelope>   \n",
       "getItemsRequest", 200},
      // a large body; without a session the answer is 59910 in an HTTP 200
      {Envelope("", "<m:createItemRequest><t:x>" + large + "</t:x></m:createItemRequest>"),
       "createItemRequest", 200},
      {"not xml at all", "", 500},
      {"<soap:Envelope xmlns:soap=\"x\"><soap:Body><m:fooRequest/></soap:Body></soap:Envelope>",
       "fooRequest", 500},
  };
  for (const Case &c : cases) {
    gwsim_test::PostResult result = client.Post(server.url(), c.body, c.requestName);
    EXPECT_EQ(CURLE_OK, result.code) << c.requestName;
    EXPECT_EQ(c.status, result.status) << c.body.substr(0, 80);
    EXPECT_EQ(c.status == 500, result.body.find("<faultstring>") != std::string::npos);
  }
  std::vector<gwsim::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(4u, requests.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i) + 1, requests[i].number);
    EXPECT_EQ("POST", requests[i].method);
    EXPECT_EQ("/soap", requests[i].path);
    EXPECT_EQ(cases[i].requestName, requests[i].soapAction);
    EXPECT_EQ(cases[i].requestName, requests[i].requestName);
    EXPECT_TRUE(cases[i].body == requests[i].body) << i;
    std::map<std::string, std::string> headers(requests[i].headers.begin(),
                                               requests[i].headers.end());
    EXPECT_EQ("text/xml; charset=utf-8", headers["Content-Type"]);
    EXPECT_EQ("\"" + requests[i].soapAction + "\"", headers["SOAPAction"]);
    EXPECT_EQ(0u, headers.count("REMOTE_ADDR"));
  }
  // Numbers count over the server's life, not since the last clearing.
  server.ClearRequests();
  client.Post(server.url(), "x", "x");
  ASSERT_EQ(1u, server.RequestCount());
  EXPECT_EQ(5, server.Requests()[0].number);
}

TEST(RecordingTest, ConnectionIsKeptUntilStop) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  Client client;
  const std::string login = Envelope("", "<m:loginRequest/>");
  EXPECT_EQ(1, client.Post(server.url(), login, "loginRequest").newConnections);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(0, client.Post(server.url(), login, "loginRequest").newConnections) << i;
  }
  // Stop does not wait for the idle connection the client still holds.
  auto start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_NE(CURLE_OK, client.Post(server.url(), login, "loginRequest").code);
  EXPECT_EQ(9u, server.RequestCount());
}

}  // namespace
