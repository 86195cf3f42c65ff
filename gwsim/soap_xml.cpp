// SOAP texts of the simulator: request reading by local names and answer
// building with the server's prefixes.
#include "gwsim/soap_xml.h"

#include <cstring>

namespace gwsim {
namespace {

const char kEnvelopeOpen[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
    " xmlns:gwm=\"http://schemas.novell.com/2005/01/GroupWise/methods\""
    " xmlns:gwt=\"http://schemas.novell.com/2005/01/GroupWise/types\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body>";
const char kEnvelopeClose[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

std::string Trimmed(const char *text) {
  const char *start = text;
  while (*start == ' ' || *start == '\t' || *start == '\r' || *start == '\n') ++start;
  size_t length = strlen(start);
  while (length > 0) {
    char c = start[length - 1];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
    --length;
  }
  return std::string(start, length);
}

}  // namespace

const char *LocalName(const char *qualifiedName) {
  const char *colon = strchr(qualifiedName, ':');
  return colon != nullptr ? colon + 1 : qualifiedName;
}

pugi::xml_node Child(pugi::xml_node parent, const char *local) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && strcmp(LocalName(child.name()), local) == 0) {
      return child;
    }
  }
  return pugi::xml_node();
}

std::string ChildText(pugi::xml_node parent, const char *local) {
  pugi::xml_node child = Child(parent, local);
  if (!child) return "";
  return Trimmed(child.text().get());
}

std::string AttributeValue(pugi::xml_node node, const char *local) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    if (strcmp(LocalName(a.name()), local) == 0) return a.value();
  }
  return "";
}

void ParseSoapRequest(const std::string &body, SoapRequest *request) {
  pugi::xml_parse_result result = request->doc.load_buffer(body.data(), body.size());
  request->wellFormed = static_cast<bool>(result);
  if (!request->wellFormed) return;
  pugi::xml_node envelope = request->doc.document_element();
  if (strcmp(LocalName(envelope.name()), "Envelope") != 0) return;
  request->session = ChildText(Child(envelope, "Header"), "session");
  pugi::xml_node soapBody = Child(envelope, "Body");
  for (pugi::xml_node child = soapBody.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) {
      request->element = child;
      request->name = LocalName(child.name());
      return;
    }
  }
}

void AppendEscaped(std::string *out, const std::string &text) {
  for (char c : text) {
    switch (c) {
      case '&': out->append("&amp;"); break;
      case '<': out->append("&lt;"); break;
      case '>': out->append("&gt;"); break;
      case '"': out->append("&quot;"); break;
      default: out->push_back(c);
    }
  }
}

void AppendElement(std::string *out, const char *qname, const std::string &text) {
  out->push_back('<');
  out->append(qname);
  out->push_back('>');
  AppendEscaped(out, text);
  out->append("</");
  out->append(qname);
  out->push_back('>');
}

std::string Envelope(const std::string &bodyContent) {
  std::string out(kEnvelopeOpen);
  out.append(bodyContent);
  out.append(kEnvelopeClose);
  return out;
}

std::string ResponseEnvelope(const std::string &responseName, const std::string &inner, int code,
                             const std::string &description) {
  std::string body = "<gwm:" + responseName + ">" + inner + "<gwm:status>";
  AppendElement(&body, "gwt:code", std::to_string(code));
  if (!description.empty()) AppendElement(&body, "gwt:description", description);
  body += "</gwm:status></gwm:" + responseName + ">";
  return Envelope(body);
}

std::string FaultEnvelope(const std::string &faultCode, const std::string &faultString) {
  std::string body = "<SOAP-ENV:Fault>";
  AppendElement(&body, "faultcode", faultCode);
  AppendElement(&body, "faultstring", faultString);
  body += "</SOAP-ENV:Fault>";
  return Envelope(body);
}

std::string ResponseNameFor(const std::string &requestName) {
  const std::string suffix = "Request";
  if (requestName.size() > suffix.size() &&
      requestName.compare(requestName.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return requestName.substr(0, requestName.size() - suffix.size()) + "Response";
  }
  return requestName + "Response";
}

}  // namespace gwsim
