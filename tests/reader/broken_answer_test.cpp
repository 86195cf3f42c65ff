// Answers that look like a success on the HTTP level but are not one (an
// HTML page, a connection closed after the status line, an answer cut inside
// its status, a Fault), on every road the plug-in asks the server: each fails
// the item, the folder's listing, the logon or the create visibly, records
// nothing, and a second run without the fault gets everything. Also a stalled
// server and a status code line that the item's own text holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../writer/writer_test_support.h"
#include "convert_support.h"
#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "transport/retry_wait.h"

namespace reader_test {
namespace {

void NoWait(uint32_t) {}

// Folder "F<n>" with the mails "Row <n> a" (R<n>A@1) and "Row <n> b".
std::string RowFolder(int n) {
  const std::string row = std::to_string(n);
  std::string xml = "<folder name=\"F" + row + "\">";
  for (const char *letter : {"a", "b"}) {
    xml += "<item id=\"R" + row + letter + "@1\" subject=\"Row " + row + " " + letter +
           "\" created=\"2026-01-0" + (letter[0] == 'a' ? "1" : "2") +
           "T09:00:00Z\"><from name=\"Dan\" email=\"dan@example.com\"/><text>Body</text></item>";
  }
  return xml + "</folder>";
}

std::vector<std::string> Subjects() {
  std::vector<std::string> subjects;
  for (const StoredItem &item : gHost.stored) subjects.push_back(item.subject);
  return subjects;
}

class BrokenAnswerTest : public ConvertTest {
 protected:
  void SetUp() override {
    ConvertTest::SetUp();
    SetRetryWait(&NoWait);
  }
  void TearDown() override {
    SetRetryWait(nullptr);
    ConvertTest::TearDown();
  }

  // Clears what the host saw before the next step.
  void NextStep() {
    gHost = HostLog();
    itemErrors_.clear();
    folderErrors_.clear();
    notices_.clear();
    host_.ClearLog();
  }

  // Writes the mail `subject` into the Mailbox as the import does.
  void WriteMail(const std::string &subject, int seq) {
    writer_test::RecordPtr record = writer_test::NewRecord();
    record->msgSeq = seq;
    CopyText(record->subject, sizeof record->subject, subject.c_str());
    writer_test::AddPart(record.get(), "Message.txt", kPartTextBody, host_.workDir(), "text");
    ASSERT_EQ(0, InitWrite(record.get(), "Mailbox", nullptr, 0));
    WriteMsg(record.get(), nullptr, host_.workDir().c_str(), nullptr);
  }

  // Items in the simulator's store with this subject.
  int StoredOnServer(const std::string &subject) {
    auto lock = server_.mailbox().Lock();
    int n = 0;
    for (const gwsim::Item &item : server_.mailbox().items) n += item.subject == subject;
    return n;
  }
};

TEST_F(BrokenAnswerTest, EveryRoadFailsVisiblyAndASecondRunGetsEverything) {
  enum Road { kItem, kCursor, kFolderList, kCreate };
  const struct {
    const char *why;
    gwsim::FaultKind kind;
    int times;  // a failed transfer is posted twice
    const char *problem;
  } shapes[] = {
      {"an HTML page with HTTP 200", gwsim::FaultKind::kHtmlPage, 1,
       "the answer is not a SOAP envelope"},
      {"a connection closed after the status line", gwsim::FaultKind::kCloseAfterStatus, 2,
       "the transfer of the answer failed"},
      {"an answer cut inside its status", gwsim::FaultKind::kCutMidElement, 1,
       "the answer was cut short"},
      {"a Fault with HTTP 200", gwsim::FaultKind::kSoapFault200, 1,
       "the answer is a SOAP fault: Simulated fault with HTTP 200"},
  };
  const struct {
    const char *why;
    Road road;
    const char *requestName;
    const char *warning;  // followed by the problem
  } roads[] = {
      {"item: the mail is not stored, and fetched again", kItem, "getItemRequest",
       "MV Warning: failed to retrieve message 1, "},
      {"cursor: the folder is reported, not ended early", kCursor, "readCursorRequest",
       "MV Warning: failed to retrieve message block 1, "},
      {"folder list: the logon fails, no empty mailbox", kFolderList, "getFolderListRequest",
       "MV Warning: getFolderListRequest failed, "},
      {"create: the mail is reported failed, and sent again", kCreate, "createItemRequest",
       "MV Warning: failed to create mail "},
  };
  // A create or a cursor read is posted once: when its transfer broke after
  // it went out, the server may have made the item or moved the cursor, and
  // the reason says so.
  auto Problem = [](gwsim::FaultKind kind, Road road, const char *problem) -> std::string {
    if ((road == kCreate || road == kCursor) && kind == gwsim::FaultKind::kCloseAfterStatus)
      return "the answer broke off after the request had gone out, and the server may have acted on it";
    return problem;
  };
  const int rows =
      static_cast<int>(sizeof shapes / sizeof shapes[0] * sizeof roads / sizeof roads[0]);
  std::string folders = "<folder name=\"Mailbox\" type=\"Mailbox\"/>";
  for (int n = 0; n < rows; ++n) folders += RowFolder(n);
  ASSERT_NO_FATAL_FAILURE(Connect(folders));

  int n = 0;
  for (const auto &shape : shapes) {
    for (const auto &road : roads) {
      SCOPED_TRACE(std::string(shape.why) + "; " + road.why);
      const std::string row = std::to_string(n), folder = "F" + row;
      const std::string subject = "Create " + row;
      const int seq = 100 + n++;
      NextStep();
      gwsim::Fault fault;
      fault.kind = shape.kind;
      fault.requestName = road.requestName;
      fault.times = shape.times;
      server_.AddFault(fault);
      std::string warning = road.warning;
      switch (road.road) {
        case kItem:
          EXPECT_EQ(0, Convert(folder));
          EXPECT_EQ(std::vector<std::string>{"Row " + row + " b"}, Subjects());
          EXPECT_EQ(std::vector<std::string>{"R" + row + "a@1\t\tgetItemRequest failed, " +
                                             shape.problem},
                    itemErrors_);
          break;
        case kCursor:
          EXPECT_EQ(0, Convert(folder));
          EXPECT_TRUE(Subjects().empty());
          ASSERT_EQ(1u, folderErrors_.size());
          EXPECT_EQ(folder + "\tthe item list could not be read (0 of 2 items listed)",
                    folderErrors_[0]);
          break;
        case kFolderList:
          EXPECT_EQ(4, LogOn("alice", "secret"));
          break;
        case kCreate:
          WriteMail(subject, seq);
          EXPECT_EQ(std::vector<std::string>{"\t" + subject + "\t" + Problem(shape.kind, road.road, shape.problem)},
                    itemErrors_);
          EXPECT_EQ(0, StoredOnServer(subject));
          // Only a transfer that broke after the request went out leaves
          // the host in doubt.
          EXPECT_EQ(shape.kind == gwsim::FaultKind::kCloseAfterStatus ? std::vector<std::string>{"132: " + subject}
                                                                      : std::vector<std::string>{},
                    notices_);
          warning += subject + ", ";
          break;
      }
      EXPECT_TRUE(host_.HasLog(warning + Problem(shape.kind, road.road, shape.problem))) << host_.LogText();

      server_.ClearFaults();
      NextStep();
      switch (road.road) {
        case kItem:
          EXPECT_EQ(0, Convert(folder));
          EXPECT_EQ(std::vector<std::string>{"Row " + row + " a"}, Subjects());
          break;
        case kCursor:
          EXPECT_EQ(0, Convert(folder));
          EXPECT_EQ((std::vector<std::string>{"Row " + row + " a", "Row " + row + " b"}),
                    Subjects());
          EXPECT_TRUE(folderErrors_.empty());
          break;
        case kFolderList:
          plugin_test::ResetPluginState();
          EXPECT_EQ(0, LogOn("alice", "secret"));
          EXPECT_GE(FolderIndex(folder), 0);
          break;
        case kCreate:
          WriteMail(subject, seq);
          EXPECT_EQ(1, StoredOnServer(subject));
          break;
      }
      EXPECT_TRUE(itemErrors_.empty());
    }
  }
}

// libcurl judges the speed over its last five seconds, so a one-second limit
// ends a stalled attempt after about six; the stall lasts longer than that.
TEST_F(BrokenAnswerTest, AStalledAnswerFailsTheAttemptWhichIsThenRetried) {
  ASSERT_NO_FATAL_FAILURE(Connect(RowFolder(0), {"/STALLSECONDS", "1"}));
  gwsim::Fault stall;
  stall.kind = gwsim::FaultKind::kStall;
  stall.delayMs = 15000;
  stall.requestName = "getItemRequest";
  server_.AddFault(stall);
  EXPECT_EQ(0, Convert("F0"));
  // libcurl's "operation too slow" ended the stalled attempt; the second one
  // brought the mail.
  EXPECT_EQ(1, host_.CountLog("MV Info: retrying Post 2 (error=28)")) << host_.LogText();
  EXPECT_EQ((std::vector<std::string>{"Row 0 a", "Row 0 b"}), Subjects());
  EXPECT_TRUE(itemErrors_.empty());
}

TEST_F(BrokenAnswerTest, ACodeLineInTheSubjectIsNoStatus) {
  ASSERT_NO_FATAL_FAILURE(Connect(
      "<folder name=\"Mailbox\" type=\"Mailbox\"><item id=\"C1@1\" subject=\"x&#10;&lt;gwt:code&gt;"
      "&#10;59905\" created=\"2026-01-01T09:00:00Z\"><text>Body</text></item></folder>"));
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ(1u, gHost.stored.size());
  EXPECT_TRUE(itemErrors_.empty()) << itemErrors_[0];
  EXPECT_EQ(0, host_.CountLog("MV Warning")) << host_.LogText();
}

}  // namespace
// A cursor read whose answer is cut after the server moved the cursor: read
// again, the cursor stands past the items the lost answer held, and the
// folder came out empty as if whole. The listing fails instead, and the
// next run lists the folder whole.
TEST_F(BrokenAnswerTest, ACursorReadCutAfterTheCursorMovedFailsTheListing) {
  ASSERT_NO_FATAL_FAILURE(Connect(RowFolder(0)));
  gwsim::Fault cut;
  cut.kind = gwsim::FaultKind::kCutAt;
  cut.cutAt = 200;
  cut.requestName = "readCursorRequest";
  server_.AddFault(cut);
  NextStep();
  EXPECT_EQ(0, Convert("F0"));
  EXPECT_TRUE(Subjects().empty());
  ASSERT_EQ(1u, folderErrors_.size());
  EXPECT_EQ("F0\tthe item list could not be read (0 of 2 items listed)", folderErrors_[0]);
  EXPECT_EQ(1u, Sent("readCursorRequest").size());
  NextStep();
  EXPECT_EQ(0, Convert("F0"));
  EXPECT_EQ((std::vector<std::string>{"Row 0 a", "Row 0 b"}), Subjects());
}

}  // namespace reader_test
