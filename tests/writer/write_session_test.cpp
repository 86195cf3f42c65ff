// InitWrite against the simulator (found, mapped and created folders, the
// class folders, the failures that leave no target), the reader of create
// answers, and the per-writer submission table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folders/folder_table.h"
#include "gwsim/base64.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "writer/mail_writer.h"
#include "writer/write_session.h"
#include "writer_test_support.h"

namespace writer_test {
namespace {

const char kInitialRows[] = "Mailbox; Sent Items; Calendar; Cabinet; Checklist; ";

// "parent|name" of a folder create request body.
std::string ParentAndName(const std::string &body) {
  auto inner = [&body](const std::string &tag) {
    size_t start = body.find("<" + tag + ">");
    if (start == std::string::npos) return std::string("?");
    start += tag.size() + 2;
    return body.substr(start, body.find("</" + tag + ">", start) - start);
  };
  return inner("parent") + "|" + inner("name");
}

class InitWriteTest : public WriterTest {
 protected:
  // A fresh logon to the running simulator: the folder table as served.
  void LogOnAgain() {
    plugin_test::ResetPluginState();
    ASSERT_EQ(0, LogOn("alice", "secret"));
    host_.ClearLog();
    server_.ClearFaults();
    baseRequests_ = Sent("createItemRequest").size();
  }
  size_t baseRequests_ = 0;

  std::vector<std::string> Creates() const {
    std::vector<std::string> creates;
    for (size_t i = baseRequests_; i < Sent("createItemRequest").size(); ++i)
      creates.push_back(ParentAndName(SentBody("createItemRequest", i)));
    return creates;
  }
};

TEST_F(InitWriteTest, TargetFolderIsFoundMappedOrCreatedLevelByLevel) {
  struct Case {
    const char *why;
    const char *folderName;
    const char *groupFolder;
    int folderClass;
    const char *taskFolder;  // the /GWTF value
    std::vector<WriterTest::Reply> replies;
    const char *container;
    std::vector<std::string> creates;  // parent|name per request
    const char *addedRows;
    const char *logLine;  // "" when none is required
  };
  const std::string ok1 = CreateAnswer("NEW1@16"), ok2 = CreateAnswer("NEW2@16");
  const Case cases[] = {
      {"sent mail in any case is the existing Sent Items", "sENT mAIL", "root", 0, "", {},
       "SENT@16", {}, "", ""},
      {"Sent alone is Sent Items too", "Sent", "root", 0, "", {}, "SENT@16", {}, "", ""},
      {"Inbox is the Mailbox", "inbox", "root", 0, "", {}, "MBX@16", {}, "", ""},
      {"a group folder other than exactly root is a first level, and Inbox below it stays "
       "Inbox",
       "Inbox", "Root", 0, "", {{200, ok1}, {200, ok2}}, "NEW2@16",
       {"ROOT.alice@16|Root", "NEW1@16|Inbox"}, "Root; Root^Inbox; ", ""},
      {"an existing first level is the parent; a slash in a name becomes a dash", "Cabinet^A/B\\C",
       "", 0, "", {{200, ok1}}, "NEW1@16", {"CAB@16|A-B-C"}, "Cabinet^A/B\\C; ", ""},
      {"empty levels are skipped", "^^X^^Y^", "root", 0, "", {{200, ok1}, {200, ok2}}, "NEW2@16",
       {"ROOT.alice@16|X", "NEW1@16|Y"}, "X; X^Y; ", ""},
      {"an ampersand is escaped in the request and plain in the table", "R&D", "root", 0, "",
       {{200, ok1}}, "NEW1@16", {"ROOT.alice@16|R&amp;D"}, "R&D; ", ""},
      {"no calendar folder by name: the first calendar", "Calendar", "root", 2, "", {}, "CAL@16",
       {}, "", "MV Info: calendar folder not found, using Calendar"},
      {"the task folder is matched by name ignoring case", "Tasks", "root", 3, "checklist", {},
       "TASKS@16", {}, "", "debug: Writing to GW task folder checklist"},
      {"no folder of the class leaves no target", "Contacts", "root", 1, "", {}, "", {}, "",
       "MV Warning: no target folder for Contacts, its items will not be written"},
      {"an HTTP failure keeps the levels made before it and leaves no target", "P^Q", "root", 0,
       "", {{200, ok1}, {500, ""}}, "", {"ROOT.alice@16|P", "NEW1@16|Q"}, "P; ",
       "MV Error: failed to create folder Q, HTTP response=500"},
      {"a refused create without id leaves no target", "Full", "root", 0, "",
       {{200, CreateAnswer("", 58652)}}, "", {"ROOT.alice@16|Full"}, "",
       "MV Warning: unable to create folder Full, code=58652"},
      {"mail named like the calendar goes to a mail folder beside it, never into the calendar",
       "Calendar", "root", 0, "", {{200, ok1}}, "NEW1@16", {"ROOT.alice@16|Calendar (mail)"},
       "Calendar (mail); ",
       "MV Info: Calendar is not a mail folder, mail goes to Calendar (mail) beside it"},
      {"a task list as a middle level is replaced the same way", "Checklist^Done", "", 0, "",
       {{200, ok1}, {200, ok2}}, "NEW2@16", {"ROOT.alice@16|Checklist (mail)", "NEW1@16|Done"},
       "Checklist (mail); Checklist (mail)^Done; ", ""},
      {"a class outside 0 to 3 leaves no target", "Odd", "root", 9, "", {}, "", {}, "",
       "MV Warning: unknown folder class 9 for Odd"},
  };
  ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_NO_FATAL_FAILURE(LogOnAgain());
    ASSERT_EQ(kInitialRows, plugin_test::Rows(false));
    CopyText(gRunSettings.gwtf, sizeof gRunSettings.gwtf, c.taskFolder);
    CopyText(gSession.targetContainer, sizeof gSession.targetContainer, "PREVIOUS@1");
    AnswerNext(c.replies);
    RecordPtr record = NewRecord();
    CopyText(record->groupFolder, sizeof record->groupFolder, c.groupFolder);

    EXPECT_EQ(0, InitWrite(record.get(), c.folderName, nullptr, c.folderClass));

    EXPECT_EQ(c.container, std::string(gSession.targetContainer));
    EXPECT_EQ(c.creates, Creates());
    EXPECT_EQ(std::string(kInitialRows) + c.addedRows, plugin_test::Rows(false));
    if (c.logLine[0] != '\0') {
      EXPECT_TRUE(host_.HasLog(c.logLine)) << host_.LogText();
    }
  }
}

TEST_F(InitWriteTest, FoldersAreCreatedOncePerLogon) {
  ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
  AnswerNext({{200, CreateAnswer("NEW1@16")}, {200, CreateAnswer("NEW2@16")}});
  RecordPtr record = NewRecord();
  InitWrite(record.get(), "Projects^2026", nullptr, 0);
  InitWrite(record.get(), "Mailbox", nullptr, 0);
  InitWrite(record.get(), "Projects^2026", nullptr, 0);
  EXPECT_EQ("NEW2@16", std::string(gSession.targetContainer));
  EXPECT_EQ(2u, Sent("createItemRequest").size());
  EXPECT_EQ("<m:createItemRequest>\n<item type=\"Folder\">\n<parent>NEW1@16</parent>\n"
            "<name>2026</name>\n</item>\n</m:createItemRequest>\n",
            SentBody("createItemRequest", 1));
}

TEST_F(InitWriteTest, WithoutRootFolderEveryItemOfTheFolderFailsVisibly) {
  ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
  RecordPtr record = NewRecord();
  InitWrite(record.get(), "Mailbox", nullptr, 0);
  ASSERT_EQ("MBX@16", std::string(gSession.targetContainer));
  gRootFolderId[0] = '\0';

  InitWrite(record.get(), "Elsewhere", nullptr, 0);
  CopyText(record->subject, sizeof record->subject, "Hello");
  EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));
  EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));

  EXPECT_TRUE(host_.HasLog("MV Warning: no root folder found"));
  EXPECT_EQ(2, host_.CountLog("MV Warning: mail Hello not written: no target folder"));
  EXPECT_EQ(std::vector<std::string>({"\tHello\tno target folder", "\tHello\tno target folder"}),
            itemErrors_);
  EXPECT_EQ(0u, Sent("createItemRequest").size());
}

TEST_F(InitWriteTest, CreateAnswerGivesTheLastIdAndCode) {
  struct Case {
    const char *why;
    std::string answer;  // raw; "" for a missing file
    const char *id;
    int code;
  };
  const Case cases[] = {
      {"an id and code 0", CreateAnswer("A@1"), "A@1", 0},
      {"the server's code is a gwt:code inside the status", CreateAnswer("", 59905), "", 59905},
      {"a later id replaces an earlier one",
       plugin_test::Answer("createItemResponse", "<gwm:id>A@1</gwm:id><gwm:id>B@2</gwm:id>"),
       "B@2", 0},
      {"a later code replaces an earlier one",
       plugin_test::Answer("createItemResponse", "<gwm:code>7</gwm:code>"), "", 0},
      {"no file", "", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    std::string path = host_.workDir() + "missing.xml";
    if (!c.answer.empty()) path = Reshaped(c.answer, "create.xml");
    char id[256] = "stale";
    int code = ReadCreateResponse(path.c_str(), id, sizeof id);
    EXPECT_EQ(c.id, std::string(id));
    EXPECT_EQ(c.code, code);
  }
}

// A minimal body for the submission table.
int EmptyBody(FILE *request, void *) {
  fputs("<m:createItemRequest/>\n", request);
  return 1;
}

TEST_F(InitWriteTest, EachWriterHasItsOwnFilesSuccessTestAndWarning) {
  struct Case {
    const char *why;
    CreateWriterKind writer;
    int code;  // in the answer, HTTP 200
    int result;
    const char *requestFile;  // kept in the work directory after a failure
    const char *warning;
    std::vector<std::string> failures;  // reported to the host
  };
  const Case cases[] = {
      {"mail fails on a non-zero code", kWriterMail, 58652, kCreateFailed, "soapreq5.tmp",
       "MV Warning: failed to create mail, subject Item, HTTP response=200, code=58652",
       {"\tItem\tHTTP response=200, code=58652"}},
      {"an appointment fails on a non-zero code", kWriterAppointment, 53, kCreateFailed,
       "soapreq3.tmp",
       "MV Warning: failed to create calendar entry, event=Item, HTTP response=200, GWS "
       "Error=53",
       {"\tItem\tHTTP response=200, code=53"}},
      {"mail with code 0 is created", kWriterMail, 0, kCreateDone, "soapreq5.tmp", "", {}},
  };
  ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    AnswerNext({{200, CreateAnswer("X@1", c.code)}});
    CreateOutcome outcome = {-1, -1};
    EXPECT_EQ(c.result, SubmitCreateItem(c.writer, EmptyBody, nullptr, "Item", &outcome));
    EXPECT_EQ(200, outcome.httpStatus);
    bool failed = c.result != kCreateDone;
    EXPECT_EQ(failed, testing_support::FileExists(host_.workDir() + c.requestFile));
    EXPECT_EQ(failed, testing_support::FileExists(CreateResponsePath(c.writer)));
    EXPECT_EQ(c.failures, itemErrors_);
    if (failed) {
      EXPECT_TRUE(host_.HasLog(c.warning)) << host_.LogText();
    }
  }
}

// A body with a large part between two texts; `lead` bytes of text before
// it (past the request's memory limit, the request moves into its file).
struct LargePartBody {
  std::string lead, partPath;
};

int WriteLargePartBody(FILE *request, void *context) {
  const LargePartBody *b = static_cast<const LargePartBody *>(context);
  fputs(b->lead.c_str(), request);
  if (!WriteBase64File(b->partPath.c_str(), request, "<tail/>")) return kBodyPartUnreadable;
  fputs("<after/>\n", request);
  return 1;
}

// A large part is encoded from its file as the request is sent; the copies
// a failure or a debug switch leaves are the whole request all the same.
TEST_F(InitWriteTest, ALargePartSentFromItsFileIsWholeInEveryCopy) {
  ASSERT_NO_FATAL_FAILURE(ConnectMailbox({"/MAILDEBUG"}));
  std::string part(300001, '\0');
  for (size_t i = 0; i < part.size(); ++i) part[i] = static_cast<char>(i * 13 + i / 257);
  LargePartBody body;
  body.partPath = host_.workDir() + "PRT99900.TMP";
  ASSERT_TRUE(testing_support::WriteFileBytes(body.partPath, part));
  std::string encoded;
  const std::string withAppendix = part + "<tail/>";
  gwsim::AppendBase64(withAppendix.data(), withAppendix.size(), 0, &encoded);
  const std::string debugDir = host_.dataDir() + "debug/alice/";
  int copy = 0;
  for (size_t lead : {size_t{10}, size_t{1200000}}) {
    SCOPED_TRACE(lead);
    body.lead = "<m:createItemRequest>" + std::string(lead, 'x') + "\n";
    const std::string expected = body.lead + "<size>" + std::to_string(encoded.size()) + "</size>\n<data>\n" +
                                 encoded + "\n</data>\n<after/>\n";
    AnswerNext({{200, CreateAnswer("X@1", 58652)}});
    EXPECT_EQ(kCreateFailed, SubmitCreateItem(kWriterMail, WriteLargePartBody, &body, "Big", nullptr));
    const std::string envelope = server_.Requests().back().body;
    const size_t start = envelope.find("<soap:Body>\n") + strlen("<soap:Body>\n");
    const std::string sent = envelope.substr(start, envelope.rfind("</soap:Body>\n") - start);
    EXPECT_EQ(sent.size(), expected.size());
    EXPECT_TRUE(sent == expected) << "the request on the wire";
    const std::string left = testing_support::ReadFileBytes(host_.workDir() + "soapreq5.tmp");
    EXPECT_TRUE(left == expected) << "the request file left after the failure, " << left.size() << " bytes";
    const std::string debugCopy =
        testing_support::ReadFileBytes(debugDir + "crmail_in" + std::to_string(copy++) + ".xml");
    EXPECT_TRUE(debugCopy == expected) << "the debug copy, " << debugCopy.size() << " bytes";
  }
  // A part file gone before the body is written: nothing is sent.
  remove(body.partPath.c_str());
  const size_t before = server_.Requests().size();
  EXPECT_EQ(kCreateNotSent, SubmitCreateItem(kWriterMail, WriteLargePartBody, &body, "Big", nullptr));
  EXPECT_EQ(before, server_.Requests().size());
}

TEST_F(InitWriteTest, TaskCopiesAreKeptWithEitherSwitchAndNumberedPerWriter) {
  ASSERT_NO_FATAL_FAILURE(ConnectMailbox({"/CALDEBUG", "/DEBUG"}));
  std::string debugDir = host_.dataDir() + "debug/alice/";
  AnswerNext({{200, CreateAnswer("X@1")}, {200, CreateAnswer("X@2")}, {200, CreateAnswer("X@3")}});
  SubmitCreateItem(kWriterTask, EmptyBody, nullptr, "T", nullptr);
  SubmitCreateItem(kWriterTask, EmptyBody, nullptr, "T", nullptr);
  SubmitCreateItem(kWriterAppointment, EmptyBody, nullptr, "A", nullptr);
  EXPECT_TRUE(testing_support::FileExists(debugDir + "crtask_out1.xml"));
  EXPECT_EQ("<m:createItemRequest/>\n",
            testing_support::ReadFileBytes(debugDir + "crtask_in1.xml"));
  EXPECT_TRUE(testing_support::FileExists(debugDir + "crcal_out0.xml"));
  EXPECT_FALSE(testing_support::FileExists(debugDir + "crcal_out1.xml"));
  EXPECT_TRUE(host_.HasLog("debug: copied create task input to " + debugDir + "crtask_in1.xml"));
}

}  // namespace
}  // namespace writer_test
