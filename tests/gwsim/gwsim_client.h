// Helpers for the simulator's tests: a libcurl client that keeps each write
// callback's data apart (the chunks sent), and a server with alice logged on.
#pragma once

#include <string>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"

namespace gwsim_test {

struct PostResult {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::vector<std::string> pieces;  // one entry per write-callback call
  std::string body;                 // the pieces joined
  long newConnections = 0;          // connections opened by this transfer
};

// Posts to url + "/soap" with a quoted SOAPAction, on one reused handle,
// following redirects.
class Client {
 public:
  Client() : curl_(curl_easy_init()) {}
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;
  PostResult Post(const std::string &url, const std::string &body,
                  const std::string &soapAction);

 private:
  CURL *curl_;
};

// The envelope the plug-in sends, with a soap:Header when `session` is set.
std::string Envelope(const std::string &session, const std::string &body);
// Posts request `name` ("getItemsRequest") and returns the answer's
// gwm:<...>Response element (empty when absent); *doc owns it.
pugi::xml_node Call(Client *client, const std::string &url, const std::string &session,
                    const std::string &name, const std::string &body, pugi::xml_document *doc);
// The gwt:code of a response element, -1 when absent.
int StatusCode(pugi::xml_node response);
// Logs alice (password secret) on; "" on failure.
std::string LoginAlice(Client *client, const std::string &url);

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start()) << server.LastError();
    session = LoginAlice(&client, server.url());
    ASSERT_FALSE(session.empty());
  }
  pugi::xml_node AskAs(const std::string &as, const std::string &name, const std::string &body) {
    return Call(&client, server.url(), as, name, body, &doc);
  }
  pugi::xml_node Ask(const std::string &name, const std::string &body) {
    return AskAs(session, name, body);
  }

  gwsim::Server server;
  Client client;
  pugi::xml_document doc;
  std::string session;  // alice's
};

}  // namespace gwsim_test
