// A small libcurl client for the simulator's tests.
#include "gwsim_client.h"

namespace gwsim_test {
namespace {

size_t CollectPiece(char *data, size_t size, size_t count, void *user) {
  static_cast<PostResult *>(user)->pieces.emplace_back(data, size * count);
  return size * count;
}

struct HeaderList {
  curl_slist *list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  void Add(const std::string &line) { list = curl_slist_append(list, line.c_str()); }
};

}  // namespace

Client::Client() : curl_(curl_easy_init()) {}
Client::~Client() { curl_easy_cleanup(curl_); }

PostResult Client::Post(const std::string &url, const std::string &envelope,
                        const std::string &soapAction, bool follow) {
  PostResult result;
  HeaderList headers;
  headers.Add("Content-Type: text/xml; charset=utf-8");
  headers.Add("SOAPAction: \"" + soapAction + "\"");
  std::string target = url + "/soap";
  curl_easy_setopt(curl_, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl_, CURLOPT_POST, 1L);
  curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, envelope.data());
  curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(envelope.size()));
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, CollectPiece);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &result);
  curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  result.code = curl_easy_perform(curl_);
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &result.newConnections);
  char *location = nullptr;
  if (curl_easy_getinfo(curl_, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
      location != nullptr) {
    result.location = location;
  }
  for (const std::string &piece : result.pieces) result.body += piece;
  return result;
}

std::string Envelope(const std::string &session, const std::string &body) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
      "xmlns:t=\"http://schemas.novell.com/2005/01/GroupWise/types\"\n"
      "xmlns:m=\"http://schemas.novell.com/2005/01/GroupWise/methods\">\n";
  if (!session.empty()) {
    out += "<soap:Header soap:encodingStyle=\"\">\n<session>" + session +
           "</session>\n</soap:Header>\n";
  }
  out += "<soap:Body>\n" + body + "</soap:Body>\n</soap:Envelope>\n";
  return out;
}

pugi::xml_node Call(Client *client, const std::string &url, const std::string &session,
                    const std::string &requestName, const std::string &body,
                    pugi::xml_document *doc) {
  PostResult result = client->Post(url, Envelope(session, body), requestName);
  if (result.code != CURLE_OK || !doc->load_string(result.body.c_str())) return pugi::xml_node();
  std::string responseName =
      "gwm:" + requestName.substr(0, requestName.size() - 7) + "Response";
  return doc->child("SOAP-ENV:Envelope").child("SOAP-ENV:Body").child(responseName.c_str());
}

int StatusCode(pugi::xml_node response) {
  pugi::xml_node code = response.child("gwm:status").child("gwt:code");
  return code ? code.text().as_int() : -1;
}

std::string LoginAlice(Client *client, const std::string &url) {
  pugi::xml_document doc;
  pugi::xml_node answer =
      Call(client, url, "", "loginRequest",
           "<m:loginRequest>\n<m:auth type=\"t:PlainText\">\n<t:username>alice</t:username>\n"
           "<t:password>secret</t:password>\n</m:auth>\n<m:version>1.09</m:version>\n"
           "<m:application>Movaro</m:application>\n</m:loginRequest>\n",
           &doc);
  return answer.child("gwm:session").text().get();
}

}  // namespace gwsim_test
