// The writer tests' fixture: a logged-on plug-in against the simulator,
// host records built in the test, and canned create answers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "folders/plugin_test_support.h"
#include "plugin/host_message.h"

namespace writer_test {

// A createItemResponse carrying id (none when empty) and status code.
std::string CreateAnswer(const std::string &id, int code = 0);

// A host record whose lists are freed with it.
struct RecordDeleter {
  void operator()(HostMessage *record) const;
};
using RecordPtr = std::unique_ptr<HostMessage, RecordDeleter>;
RecordPtr NewRecord();
// 2019-05-02T14:30:59Z
inline FILETIME May2019() { return U64ToFileTime(132012810590000000ull); }
void AddRecipient(HostMessage *record, const char *name, const char *address, int kind);
// Appends a part; its file (when content is not null) goes into directory.
void AddPart(HostMessage *record, const char *name, int kind, const std::string &directory,
             const char *content);

// Mailbox, Sent Items, Calendar, Cabinet and Checklist, with fixed ids.
extern const char kMailboxContent[];

class WriterTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override;

  // Answers the next requests, in order: HTTP status and (for 200) body.
  struct Reply {
    int status;
    std::string body;
  };
  void AnswerNext(const std::vector<Reply> &replies);
  // WriteMsg of record returns 0, the index-th createItemRequest sent is the
  // golden file writer/<golden> byte for byte, nothing is reported to the
  // host, and the request file and the answer file (names in the work
  // directory) are gone.
  void ExpectGoldenWrite(HostMessage *record, const char *golden, size_t index,
                         const char *requestFile, const char *answerFile);
  // The fixture's mailbox (see kMailboxContent) with the user logged on.
  void ConnectMailbox(const std::vector<std::string> &params = {});
  std::string PartDir() const { return host_.root() + "/parts/"; }
  // The file of record's index-th part in the work directory.
  std::string BodyFile(const HostMessage *record, int index) const;
};

}  // namespace writer_test
