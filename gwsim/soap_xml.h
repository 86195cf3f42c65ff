// SOAP texts of the simulator: reading requests by local element names and
// building answers qualified the way GroupWise Web Services qualifies them
// (gwm: for the children of a response, gwt: inside types).
#pragma once

#include <string>

#include <pugixml.hpp>

namespace gwsim {

// One request body, parsed.
struct SoapRequest {
  pugi::xml_document doc;
  bool wellFormed = false;
  pugi::xml_node element;  // first element inside soap:Body (empty when none)
  std::string name;        // its local name ("loginRequest"); "" when none
  std::string session;     // text of soap:Header/session; "" when none
};

// Parses `body` into *request. Cannot fail: a body that is not XML, or has
// no Body element, leaves wellFormed false or name empty.
void ParseSoapRequest(const std::string &body, SoapRequest *request);

// The part of a qualified name after its ":" ("m:auth" -> "auth").
const char *LocalName(const char *qualifiedName);
// First child element whose local name is `local`; empty node when none.
pugi::xml_node Child(pugi::xml_node parent, const char *local);
// Text of that child with blanks around it removed; "" when absent.
std::string ChildText(pugi::xml_node parent, const char *local);
// Value of the attribute whose local name is `local`; "" when absent.
std::string AttributeValue(pugi::xml_node node, const char *local);

// Appends `text` with &, <, > and " escaped (usable in texts and in
// double-quoted attributes).
void AppendEscaped(std::string *out, const std::string &text);
// Appends <qname>escaped text</qname>.
void AppendElement(std::string *out, const char *qname, const std::string &text);

// A complete answer: XML declaration, SOAP-ENV envelope with the gwm, gwt
// and xsi bindings, and `bodyContent` inside SOAP-ENV:Body.
std::string Envelope(const std::string &bodyContent);
// <gwm:NAME>inner<gwm:status><gwt:code>code</gwt:code>[<gwt:description>..]
// </gwm:status></gwm:NAME> in an envelope.
std::string ResponseEnvelope(const std::string &responseName, const std::string &inner, int code,
                             const std::string &description);
// A SOAP 1.1 fault in an envelope; faultcode and faultstring unqualified.
std::string FaultEnvelope(const std::string &faultCode, const std::string &faultString);

// "loginRequest" -> "loginResponse"; other names get "Response" appended.
std::string ResponseNameFor(const std::string &requestName);

}  // namespace gwsim
