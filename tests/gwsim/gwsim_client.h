// A small libcurl client for the simulator's tests: posts SOAP envelopes
// on one reusable handle and keeps every write-callback call apart, so
// that tests see the chunks the server sent.
#pragma once

#include <string>
#include <vector>

#include <curl/curl.h>
#include <pugixml.hpp>

namespace gwsim_test {

struct PostResult {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::vector<std::string> pieces;  // one entry per write-callback call
  std::string body;                 // the pieces joined
  long newConnections = 0;          // connections opened by this transfer
  std::string location;             // Location of the last answer
};

class Client {
 public:
  Client();
  ~Client();
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  // Posts `envelope` to url + "/soap" with the SOAPAction header quoted.
  // With `follow` redirects are followed.
  PostResult Post(const std::string &url, const std::string &envelope,
                  const std::string &soapAction, bool follow = true);

 private:
  CURL *curl_;
};

// The envelope the plug-in sends: a soap:Header with the session when
// `session` is not empty.
std::string Envelope(const std::string &session, const std::string &body);

// Logs alice (password secret) on with a plain login; "" on failure.
std::string LoginAlice(Client *client, const std::string &url);

// Posts one request and parses the answer. Returns the element named
// `gwm:<name>Response` (empty node when absent); *doc owns it.
pugi::xml_node Call(Client *client, const std::string &url, const std::string &session,
                    const std::string &requestName, const std::string &body,
                    pugi::xml_document *doc);

// The gwt:code of a response element, -1 when absent.
int StatusCode(pugi::xml_node response);

}  // namespace gwsim_test
