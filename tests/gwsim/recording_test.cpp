// The simulator's listener: recording of requests, keep-alive, HTTPS and
// start failures.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "gwsim/gwsim.h"
#include "gwsim_client.h"

namespace {

using gwsim_test::Client;
using gwsim_test::Envelope;
using gwsim_test::PostResult;

std::string HeaderValue(const gwsim::RecordedRequest &request, const char *name) {
  for (const auto &header : request.headers) {
    if (header.first == name) return header.second;
  }
  return "<absent>";
}

TEST(RecordingTest, RecordsEveryRequestByteForByte) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  Client client;
  // CR LF, trailing blanks, UTF-8 and an unprefixed request element.
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<soap:Envelope "
      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">  \r\n<soap:Body>"
      "<getItemsRequest><container>M\xC3\xBCller</container></getItemsRequest>"
      "</soap:Body></soap:Envelope>   \n";
  client.Post(server.url(), body, "getItemsRequest");
  client.Post(server.url(), "not xml at all", "mystery");

  std::vector<gwsim::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(1, requests[0].number);
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("/soap", requests[0].path);
  EXPECT_EQ("getItemsRequest", requests[0].soapAction);
  EXPECT_EQ("getItemsRequest", requests[0].requestName);
  EXPECT_EQ(body, requests[0].body);
  EXPECT_EQ("text/xml; charset=utf-8", HeaderValue(requests[0], "Content-Type"));
  EXPECT_EQ("\"getItemsRequest\"", HeaderValue(requests[0], "SOAPAction"));
  EXPECT_EQ("<absent>", HeaderValue(requests[0], "REMOTE_ADDR"));
  EXPECT_EQ(2, requests[1].number);
  EXPECT_EQ("", requests[1].requestName);
  EXPECT_EQ("not xml at all", requests[1].body);

  // Numbers count over the server's life, not since the last clearing.
  server.ClearRequests();
  EXPECT_EQ(0u, server.RequestCount());
  client.Post(server.url(), body, "getItemsRequest");
  ASSERT_EQ(1u, server.RequestCount());
  EXPECT_EQ(3, server.Requests()[0].number);
}

TEST(RecordingTest, LargeBodyIsRecordedWhole) {
  // Over 1 MB: libcurl asks for "100 Continue" first.
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  Client client;
  std::string payload(3 * 1024 * 1024 + 7, 'A');
  for (size_t i = 0; i < payload.size(); i += 997) payload[i] = static_cast<char>('a' + i % 26);
  const std::string body = Envelope("", "<m:createItemRequest><t:x>" + payload +
                                            "</t:x></m:createItemRequest>");
  PostResult result = client.Post(server.url(), body, "createItemRequest");
  EXPECT_EQ(CURLE_OK, result.code);
  ASSERT_EQ(1u, server.RequestCount());
  EXPECT_TRUE(server.Requests()[0].body == body);
  EXPECT_EQ("createItemRequest", server.Requests()[0].requestName);
}

TEST(RecordingTest, BodyThatIsNoSoapRequestGetsAFault) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  Client client;
  const char *bodies[] = {
      "not xml at all",                                                     // no XML
      "<a><b/></a>",                                                        // no envelope
      "<soap:Envelope xmlns:soap=\"x\"><soap:Body/></soap:Envelope>",       // empty body
      "<soap:Envelope xmlns:soap=\"x\"><soap:Body><m:fooRequest/></soap:Body></soap:Envelope>",
  };
  for (const char *body : bodies) {
    PostResult result = client.Post(server.url(), body, "x");
    EXPECT_EQ(500, result.status) << body;
    EXPECT_NE(std::string::npos, result.body.find("<faultstring>")) << body;
  }
}

TEST(RecordingTest, ConnectionIsKeptBetweenRequests) {
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

TEST(RecordingTest, ServesHttpsWithItsOwnCertificate) {
  gwsim::Options options;
  options.tls = true;
  gwsim::Server server(options);
  ASSERT_TRUE(server.Start()) << server.LastError();
  EXPECT_EQ("https://127.0.0.1:" + std::to_string(server.port()), server.url());
  Client client;
  EXPECT_FALSE(gwsim_test::LoginAlice(&client, server.url()).empty());
  EXPECT_EQ(0, client.Post(server.url(), Envelope("", "<m:loginRequest/>"), "loginRequest")
                   .newConnections);
}

TEST(RecordingTest, BusyPortAndStopRestart) {
  gwsim::Server first;
  ASSERT_TRUE(first.Start()) << first.LastError();
  gwsim::Options options;
  options.port = first.port();
  gwsim::Server second(options);
  EXPECT_FALSE(second.Start());
  EXPECT_NE(std::string::npos, second.LastError().find(std::to_string(first.port())));

  first.Stop();
  first.Stop();  // a second Stop does nothing
  EXPECT_TRUE(second.Start()) << second.LastError();
  Client client;
  EXPECT_FALSE(gwsim_test::LoginAlice(&client, second.url()).empty());
}

}  // namespace
