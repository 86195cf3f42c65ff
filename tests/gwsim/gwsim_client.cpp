// A small libcurl client for the simulator's tests.
#include "gwsim_client.h"

namespace gwsim_test {

static size_t CollectPiece(char *data, size_t size, size_t count, void *user) {
  static_cast<PostResult *>(user)->pieces.emplace_back(data, size * count);
  return size * count;
}

PostResult Client::Post(const std::string &url, const std::string &body,
                        const std::string &soapAction) {
  PostResult result;
  curl_slist *headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
  headers = curl_slist_append(headers, ("SOAPAction: \"" + soapAction + "\"").c_str());
  const std::string target = url + "/soap";
  curl_easy_setopt(curl_, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl_, CURLOPT_POST, 1L);
  curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, CollectPiece);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &result);
  curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  result.code = curl_easy_perform(curl_);
  curl_slist_free_all(headers);
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &result.newConnections);
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
  return out + "<soap:Body>\n" + body + "</soap:Body>\n</soap:Envelope>\n";
}

pugi::xml_node Call(Client *client, const std::string &url, const std::string &session,
                    const std::string &name, const std::string &body, pugi::xml_document *doc) {
  PostResult result = client->Post(url, Envelope(session, body), name);
  if (result.code != CURLE_OK || !doc->load_string(result.body.c_str())) return pugi::xml_node();
  std::string response = "gwm:" + name.substr(0, name.size() - 7) + "Response";
  return doc->child("SOAP-ENV:Envelope").child("SOAP-ENV:Body").child(response.c_str());
}

int StatusCode(pugi::xml_node response) {
  pugi::xml_node code = response.child("gwm:status").child("gwt:code");
  return code ? code.text().as_int() : -1;
}

std::string LoginAlice(Client *client, const std::string &url) {
  pugi::xml_document doc;
  pugi::xml_node answer = Call(
      client, url, "", "loginRequest",
      "<m:loginRequest>\n<m:auth type=\"t:PlainText\">\n<t:username>alice</t:username>\n"
      "<t:password>secret</t:password>\n</m:auth>\n<m:version>1.09</m:version>\n"
      "<m:application>Movaro</m:application>\n</m:loginRequest>\n",
      &doc);
  return answer.child("gwm:session").text().get();
}

}  // namespace gwsim_test
