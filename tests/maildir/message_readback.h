// Reading an exported message file back with GMime into plain values that
// tests compare field by field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace readback {

struct Address {
  std::string name, address;
};

struct Leaf {
  std::string type;      // "text/plain"
  std::string charset;   // content-type charset parameter, "" when none
  std::string filename;  // decoded; "" for a body part
  std::string disposition;  // "attachment" or ""
  std::string bytes;     // decoded content; an attached message's text as GMime writes it
  std::string encoding;  // Content-Transfer-Encoding as written, "" when none
};

struct Message {
  bool parsed = false;
  std::vector<Address> from, to, cc, bcc;
  std::string subject;     // decoded
  std::string rawSubject;  // as in the file (encoded words)
  int64_t date = 0;        // Unix time; 0 when no Date header
  std::string messageId;   // without angle brackets
  std::string importance, xPriority, keywords, groupwiseId;  // decoded header values
  std::string structure;   // "multipart/mixed(multipart/alternative(text/plain,text/html),application/pdf)"
  std::vector<Leaf> leaves;  // in document order
};

// Parses the file at path. parsed stays false when it cannot be read or parsed.
Message ReadMessageFile(const std::string &path);

// The list as "name <address>;" per address, for comparing whole lists.
std::string AddressList(const std::vector<Address> &list);

// Names of the entries of a directory, sorted; [] when it cannot be read.
std::vector<std::string> ListDirectory(const std::string &dir);

}  // namespace readback
