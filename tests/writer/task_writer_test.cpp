// CreateTask through WriteMsg against the simulator: requests byte for byte
// against the golden files, failures reported to the host, the host's part
// files left alone, and a task read back after it was written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "reader/task_reader.h"
#include "transport/soap_call.h"
#include "writer/attendee_list.h"
#include "writer_test_support.h"

namespace writer_test {
namespace {

// 2019-05-09T08:00:00Z
FILETIME May9() { return U64ToFileTime(132018624000000000ull); }

class TaskWriterTest : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
    CopyText(gSession.targetContainer, sizeof gSession.targetContainer, "TASKS@16");
  }
  RecordPtr NewTask(const char *title) {
    RecordPtr record = NewRecord();
    record->itemKind = kItemTask;
    CopyText(record->title, sizeof record->title, title);
    return record;
  }
};

TEST_F(TaskWriterTest, TaskRequestsMatchTheGoldenFiles) {
  struct Case {
    const char *why;
    const char *golden;
    void (*fill)(HostMessage *record, const std::string &workDir);
  };
  const Case cases[] = {
      {"completed by the flag while the checklist says 40; high priority; body without "
       "recipients has no attendee list",
       "task_completed_by_flag.txt",
       [](HostMessage *r, const std::string &work) {
         r->contactFlag = 2;
         r->percentComplete = 40;
         r->taskPriority = 2;
         r->startTime = May2019();
         r->endTime = May9();
         AddPart(r, "Message.txt", kPartTextBody, work, "abc");
       }},
      {"completed by 100 percent; low priority; a start of 0 is 1601-01-01; no body",
       "task_completed_by_percent.txt",
       [](HostMessage *r, const std::string &) {
         r->percentComplete = 100;
         r->taskPriority = 0;
         r->endTime = May9();
       }},
      {"recipients only in the body's attendee list, the distribution names the user; "
       "title and user name escaped; any other priority is standard",
       "task_recipients_in_body.txt",
       [](HostMessage *r, const std::string &work) {
         CopyText(r->title, sizeof r->title, "Q&A <draft>");
         r->taskPriority = 7;
         r->startTime = May2019();
         r->endTime = May9();
         AddRecipient(r, "Ann Lee", "ann@example.com", kRecipOrganizer);
         AddRecipient(r, "Bob Brown", "bob@example.com", kRecipTo);
         r->recips[1]->status = 1;
         AddRecipient(r, "Cy", "cy", kRecipCc);
         r->recips[2]->status = 3;
         AddPart(r, "Message.txt", kPartTextBody, work, "Do it");
       }},
  };
  CopyText(gSession.userDisplayName, sizeof gSession.userDisplayName, "Alice & \"Co\"");
  size_t sent = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    RecordPtr record = NewTask("Send the slides");
    c.fill(record.get(), host_.workDir());
    AnswerNext({{200, CreateAnswer("TASK@1")}});
    ASSERT_NO_FATAL_FAILURE(
        ExpectGoldenWrite(record.get(), c.golden, sent++, "soapreq4.tmp", "crtask.xml"));
  }
}

// One task written again after each failure, as the host retries: every
// attempt sends the same body and the host's body file is left alone.
TEST_F(TaskWriterTest, FailedWritesAreReportedKeepTheirFilesAndRetrySendsTheSameBody) {
  struct Case {
    const char *why;
    Reply reply;
    std::vector<std::string> failures;
  };
  const Case cases[] = {
      {"HTTP 500", {500, ""}, {"\tPlan & go\tHTTP response=500, code=0"}},
      {"HTTP 200 with a non-zero code is a failure too",
       {200, CreateAnswer("", 59905)},
       {"\tPlan & go\tHTTP response=200, code=59905"}},
      {"HTTP 200 and code 0 is done", {200, CreateAnswer("TASK@1")}, {}},
  };
  RecordPtr record = NewTask("Plan & go");
  AddRecipient(record.get(), "Bob Brown", "bob@example.com", kRecipTo);
  AddPart(record.get(), "Message.txt", kPartTextBody, host_.workDir(), "Body text");
  size_t sent = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    AnswerNext({c.reply});
    EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));
    EXPECT_EQ(c.failures, itemErrors_);
    EXPECT_EQ(!c.failures.empty(),
              testing_support::FileExists(host_.workDir() + "soapreq4.tmp"));
    EXPECT_EQ(!c.failures.empty(), testing_support::FileExists(host_.workDir() + "crtask.xml"));
    EXPECT_EQ("Body text", testing_support::ReadFileBytes(BodyFile(record.get(), 0)));
    ASSERT_EQ(++sent, Sent("createItemRequest").size());
    EXPECT_EQ(SentBody("createItemRequest", 0), SentBody("createItemRequest", sent - 1));
  }
  EXPECT_TRUE(host_.HasLog("MV Warning: failed to create task, name=Plan & go, HTTP "
                           "response=200"));
}

TEST_F(TaskWriterTest, TheAttendeeListGoesOntoACopyOnly) {
  RecordPtr record = NewTask("Copy");
  AddRecipient(record.get(), "Ann Lee", "ann@example.com", kRecipOrganizer);
  AddRecipient(record.get(), "Bob Brown", "bob@example.com", kRecipTo);
  record->recips[1]->status = 2;
  const std::string copy = host_.workDir() + "copy.txt";
  ASSERT_TRUE(testing_support::WriteFileBytes(copy, "Text"));
  AppendAttendeeList(record.get(), copy.c_str());
  EXPECT_EQ("Text\n\nAttendees:\n\nAnn Lee <ann@example.com> (Organizer)\n"
            "Bob Brown <bob@example.com> (Declined)\n",
            testing_support::ReadFileBytes(copy));
  // A file that cannot be opened is left alone, and nothing is made in its place.
  const std::string missing = host_.workDir() + "no/such/dir.txt";
  AppendAttendeeList(record.get(), missing.c_str());
  EXPECT_FALSE(testing_support::FileExists(missing));
}

struct RoundTripCase {
  const char *why;
  int contactFlag, percent, priority;
  int percentRead;
  int flagRead;  // contactFlag read back: 2 when completed
};

// What the task writer sends, the server keeps and the task reader reads
// back: dates (days, read as noon), progress, priority, body and assigner.
TEST_F(TaskWriterTest, AWrittenTaskReadsBackWithItsFields) {
  const RoundTripCase cases[] = {
      {"40 percent, high", 0, 40, 2, 40, 0},
      {"completed by the flag reads as completed and 100 percent, low", 2, 40, 0, 100, 2},
  };
  {
    auto lock = server_.mailbox().Lock();
    server_.mailbox().FindUser("alice")->displayName = "Alice Anders";
  }
  for (const RoundTripCase &c : cases) {
    SCOPED_TRACE(c.why);
    RecordPtr record = NewTask("Round trip");
    record->contactFlag = c.contactFlag;
    record->percentComplete = c.percent;
    record->taskPriority = c.priority;
    record->startTime = May2019();
    record->endTime = May9();
    AddPart(record.get(), "Message.txt", kPartTextBody, host_.workDir(), "Do it");
    itemErrors_.clear();
    WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr);
    ASSERT_TRUE(itemErrors_.empty());
    std::string id;
    {
      auto lock = server_.mailbox().Lock();
      id = server_.mailbox().items.back().id;
    }
    std::string body = "<m:getItemRequest>\n<id>" + id + "</id>\n<view>all</view>\n"
                       "</m:getItemRequest>\n";
    std::string path = host_.workDir() + "task.xml";
    SoapCall(body.c_str(), "getItemRequest", path.c_str());
    RecordPtr read = NewRecord();
    read->msgSeq = 8;
    ASSERT_EQ(kTaskRead, ParseTask(read.get(), path.c_str()));
    EXPECT_STREQ("Round trip", read->title);
    EXPECT_EQ(c.percentRead, read->percentComplete);
    EXPECT_EQ(c.flagRead, read->contactFlag);
    EXPECT_EQ(c.priority, read->taskPriority);
    EXPECT_EQ(132012720000000000ull, FileTimeToU64(read->startTime));  // 2019-05-02T12:00:00Z
    EXPECT_EQ(132018768000000000ull, FileTimeToU64(read->endTime));    // 2019-05-09T12:00:00Z
    EXPECT_STREQ("Alice Anders", read->organizerName);
    ASSERT_EQ(1, read->partCount);
    EXPECT_EQ("Do it", testing_support::ReadFileBytes(BodyFile(read.get(), 0)));
    com_Deallocate_All(read.get(), nullptr);
  }
}

}  // namespace
}  // namespace writer_test
