// ParseTask on saved answers (which element lands where, which of two wins,
// the text body) and the task reader through ConvertFolder against the
// simulator (duplicates, the item limit, failed fetches, the demo tasks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert_support.h"
#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "plugin/mvcom.h"
#include "reader/task_reader.h"

namespace reader_test {
namespace {

using testing_support::ReadFileBytes;

std::string TaskAnswer(const std::string &inner) {
  return plugin_test::Answer("getItemResponse",
                             "<gwm:item xsi:type=\"gwt:Task\">" + inner + "</gwm:item>");
}

// A date alone is read as noon UTC of that day: 2026-03-05T12:00:00Z and
// 2026-03-07T12:00:00Z as FILETIME.
const uint64_t kMarch5 = 134171856000000000ull;
const uint64_t kMarch7 = 134173584000000000ull;

class TaskParserTest : public ConvertTest {
 protected:
  void SetUp() override {
    ConvertTest::SetUp();
    std::string categories = plugin_test::Answer(
        "getCategoryListResponse",
        "<gwm:categories><gwt:category><gwt:id>C1@55</gwt:id><gwt:name>Business</gwt:name>"
        "</gwt:category></gwm:categories>");
    ASSERT_EQ(1, ParseCategoryList(Reshaped(categories, "categories.xml").c_str()));
  }
  void TearDown() override {
    com_Deallocate_All(record_, nullptr);
    ConvertTest::TearDown();
  }
  int Parse(const std::string &inner) {
    std::string path = Reshaped(TaskAnswer(inner), "task.xml");
    com_ResetObject(record_);
    return ParseTask(record_, path.c_str());
  }
};

struct TaskFieldCase {
  const char *why;
  std::string inner;
  std::string title;
  int percent;
  uint64_t start, due;
  int priority;
  std::string organizerName, organizerAddress, categories;
  int completedFlag;
};

TEST_F(TaskParserTest, ElementsLandInTheirFields) {
  const std::string longTitle(300, 't');
  const TaskFieldCase cases[] = {
      {"completed 1 without a percentage is 100 percent; the subject is trimmed",
       "<gwt:subject>  Send the slides </gwt:subject><gwt:completed>1</gwt:completed>",
       "Send the slides", 100, 0, 0, 1, "", "", "", 2},
      {"a start date and a later assigned date: the assigned date is the start",
       "<gwt:startDate>2026-03-05</gwt:startDate><gwt:assignedDate>2026-03-07</gwt:assignedDate>"
       "<gwt:dueDate>2026-03-07</gwt:dueDate>",
       "", 0, kMarch7, kMarch7, 1, "", "", "", 0},
      {"the assigned date first and the start date after it: the start date wins",
       "<gwt:assignedDate>2026-03-07</gwt:assignedDate><gwt:startDate>2026-03-05</gwt:startDate>",
       "", 0, kMarch5, 0, 1, "", "", "", 0},
      {"a percentage after completed replaces the 100; the completed mark stays",
       "<gwt:completed>1</gwt:completed><gwt:checklist><gwt:percentComplete>40"
       "</gwt:percentComplete></gwt:checklist>",
       "", 40, 0, 0, 1, "", "", "", 2},
      {"completed after a percentage makes it 100; completed 0 leaves it",
       "<gwt:percentComplete>40</gwt:percentComplete><gwt:completed>0</gwt:completed>"
       "<gwt:percentComplete>60</gwt:percentComplete><gwt:completed>1</gwt:completed>",
       "", 100, 0, 0, 1, "", "", "", 2},
      {"priorities in any case; an unknown one leaves the last known",
       "<gwt:options><gwt:priority>HIGH</gwt:priority></gwt:options>"
       "<gwt:priority>Urgent</gwt:priority>",
       "", 0, 0, 0, 2, "", "", "", 0},
      {"low priority is 0 (a task without one is standard)", "<gwt:priority>low</gwt:priority>",
       "", 0, 0, 0, 0, "", "", "", 0},
      {"the assigner is the organizer; the subject keeps 256 characters",
       "<gwt:subject>" + longTitle + "</gwt:subject><gwt:distribution><gwt:from>"
       "<gwt:displayName>Dan Dorsey</gwt:displayName><gwt:email>dan@example.com</gwt:email>"
       "</gwt:from></gwt:distribution><gwt:categories><gwt:category>C1@55</gwt:category>"
       "</gwt:categories>",
       std::string(256, 't'), 0, 0, 0, 1, "Dan Dorsey", "dan@example.com", "Business;", 0},
  };
  for (const TaskFieldCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(kTaskRead, Parse(c.inner));
    EXPECT_EQ(c.title, record_->title);
    EXPECT_EQ(c.percent, record_->percentComplete);
    EXPECT_EQ(c.start, FileTimeToU64(record_->startTime));
    EXPECT_EQ(c.due, FileTimeToU64(record_->endTime));
    EXPECT_EQ(c.priority, record_->taskPriority);
    EXPECT_EQ(c.organizerName, record_->organizerName);
    EXPECT_EQ(c.organizerAddress, record_->organizerAddress);
    EXPECT_EQ(c.categories, record_->categories);
    EXPECT_EQ(c.completedFlag, record_->contactFlag);
    com_Deallocate_All(record_, nullptr);
  }
}

struct BodyCase {
  const char *why;
  std::string inner;
  std::vector<std::string> names;  // the parts' names, in order
  std::vector<int> kinds;
  std::string text;                // the first text-body part's file
};

TEST_F(TaskParserTest, TheTextBodyIsTheTasksOwnOrMadeFromItsHtml) {
  // "Call Bob\n" and "<html><body><p>Call <b>Bob</b></p></body></html>" in base64.
  const std::string textPart =
      "<gwt:message><gwt:part contentType=\"text/plain\" length=\"9\">Q2FsbCBCb2IK</gwt:part>"
      "</gwt:message>";
  const std::string htmlAttachment =
      "<gwt:attachments><gwt:attachment><gwt:id>H1@1</gwt:id><gwt:name>text.htm</gwt:name>"
      "<gwt:contentType>text/html</gwt:contentType><gwt:size>47</gwt:size>"
      "<gwt:hidden>1</gwt:hidden></gwt:attachment></gwt:attachments>";
  ASSERT_NO_FATAL_FAILURE(Connect());
  FaultEvery("getAttachmentRequest", 200,
             plugin_test::Answer("getAttachmentResponse",
                                 "<gwm:part length=\"47\" offset=\"0\">PGh0bWw+PGJvZHk+PHA+Q2FsbCA8Yj5C"
                                 "b2I8L2I+PC9wPjwvYm9keT48L2h0bWw+</gwm:part>"));
  const BodyCase cases[] = {
      {"the task's own text part becomes its text body", textPart, {"Message.txt"}, {1},
       "Call Bob\n"},
      {"a text part whose length comes before its type is the body too",
       "<gwt:message><gwt:part length=\"9\" contentType=\"text/plain\">Q2FsbCBCb2IK</gwt:part>"
       "</gwt:message>",
       {"Message.txt"}, {1}, "Call Bob\n"},
      {"an HTML body alone gets a text body made from it", htmlAttachment,
       {"text.htm", "Message.txt"}, {9, 1}, "Call Bob"},
      {"with its own text part the HTML is not converted", textPart + htmlAttachment,
       {"Message.txt", "text.htm"}, {1, 9}, "Call Bob\n"},
      {"no body at all: no part", "<gwt:subject>Bare</gwt:subject>", {}, {}, ""},
  };
  for (const BodyCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(kTaskRead, Parse(c.inner));
    std::vector<std::string> names;
    std::vector<int> kinds;
    std::string text;
    for (int i = 0; i < record_->partCount; ++i) {
      names.push_back(record_->parts[i]->name);
      kinds.push_back(record_->parts[i]->kind);
      char path[1100];
      FormatPartFileName(path, sizeof path, host_.workDir().c_str(), record_->msgSeq, i);
      if (record_->parts[i]->kind == 1 && text.empty()) {
        text = ReadFileBytes(path);
        EXPECT_EQ(static_cast<int>(text.size()), record_->parts[i]->size);
      }
    }
    EXPECT_EQ(c.names, names);
    EXPECT_EQ(c.kinds, kinds);
    // The text made from HTML may end with line breaks of its own.
    EXPECT_EQ(0u, text.find(c.text)) << text;
    com_Deallocate_All(record_, nullptr);
  }
}

TEST_F(TaskParserTest, ABodyThatCannotBeFetchedFailsTheTask) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  FaultEvery("getAttachmentRequest", 500);
  EXPECT_EQ(kTaskFailed,
            Parse("<gwt:message><gwt:part contentType=\"text/plain\" length=\"40000\" "
                  "id=\"LONG@1#body1\"/></gwt:message>"));
  EXPECT_EQ(0, record_->partCount);
  EXPECT_EQ(kTaskNotOpened, ParseTask(record_, WorkFile("missing.xml").c_str()));
}

// ---- the reader through ConvertFolder ----

// n tasks "Task 1".. in the Checklist, ids T1@1...
std::string Checklist(int n, const std::string &prefix = "T") {
  std::string xml = "<folder name=\"Mailbox\" type=\"Mailbox\"/>"
                    "<folder name=\"Checklist\" type=\"Checklist\">";
  for (int i = 1; i <= n; ++i) {
    std::string day = (i < 10 ? "0" : "") + std::to_string(i);
    xml += "<item id=\"" + prefix + std::to_string(i) + "@1\" kind=\"Task\" subject=\"Task " +
           std::to_string(i) + "\" created=\"2026-01-" + day + "T09:00:00Z\" priority=\"High\">"
           "<from name=\"Dan\" email=\"dan@example.com\"/><text>Do " + std::to_string(i) +
           "</text><task start=\"2026-03-05\" due=\"2026-03-07\" percent=\"40\"/></item>";
  }
  return xml + "</folder>";
}

std::vector<std::string> Titles() {
  std::vector<std::string> titles;
  for (const StoredItem &item : gHost.stored) titles.push_back(item.title);
  return titles;
}

class TaskReaderTest : public ConvertTest {};

struct TaskLimitCase {
  const char *why;
  int itemLimit;
  std::vector<int> saveCodes;
  std::vector<int> statuses;
  int storedCount;
};

TEST_F(TaskReaderTest, TheItemLimitCountsStoredTasks) {
  const TaskLimitCase cases[] = {
      {"limit 5 of 8 stores five", 5, {}, {0, 0, 0, 0, 0}, 5},
      {"limit 0 is no limit, as for mail", 0, {}, {0, 0, 0, 0, 0, 0, 0, 0}, 8},
      {"1234, 1235 and 500 fail a task without ending the list", 2,
       {1234, 1235, 500}, {6, 6, 6, 0, 0}, 2},
  };
  std::string prefix = "A";
  for (const TaskLimitCase &c : cases) {
    SCOPED_TRACE(c.why);
    // Ids of its own for each row: the migration state keeps the earlier rows' tasks.
    ASSERT_NO_FATAL_FAILURE(Connect(Checklist(8, prefix)));
    prefix += "A";
    gHost = HostLog();
    gHost.saveCodes = c.saveCodes;
    EXPECT_EQ(0, Convert("Checklist", c.itemLimit));
    EXPECT_EQ(c.statuses, gHost.statuses);
    EXPECT_EQ(c.storedCount, storedCount_);
    server_.Stop();
  }
}

TEST_F(TaskReaderTest, ASecondCallReportsTheStoredTasksAsDuplicates) {
  ASSERT_NO_FATAL_FAILURE(Connect(Checklist(8)));
  EXPECT_EQ(0, Convert("Checklist", 5));
  gHost = HostLog();
  EXPECT_EQ(0, Convert("Checklist", 5));
  EXPECT_EQ((std::vector<int>{1, 1, 1, 1, 1, 0, 0, 0}), gHost.statuses);
  EXPECT_EQ((std::vector<std::string>{"Task 6", "Task 7", "Task 8"}), Titles());
}

TEST_F(TaskReaderTest, TwoTasksOfTheSameTitleAndDatesAreBothStored) {
  ASSERT_NO_FATAL_FAILURE(Connect(
      "<folder name=\"Checklist\" type=\"Checklist\">"
      "<item id=\"A@1\" kind=\"Task\" subject=\"Water plants\" created=\"2026-01-01T09:00:00Z\"/>"
      "<item id=\"B@1\" kind=\"Task\" subject=\"Water plants\" created=\"2026-01-02T09:00:00Z\"/>"
      "</folder>"));
  EXPECT_EQ(0, Convert("Checklist", 10));
  EXPECT_EQ((std::vector<int>{0, 0}), gHost.statuses);
}

TEST_F(TaskReaderTest, ATaskThatCannotBeFetchedIsReportedAndNotStored) {
  ASSERT_NO_FATAL_FAILURE(Connect(Checklist(3), {"/D327", WorkFile("failed.txt")}));
  gwsim::Fault fault;
  fault.status = 500;
  fault.requestName = "getItemRequest";
  fault.nameOrdinal = 2;
  server_.AddFault(fault);
  EXPECT_EQ(0, Convert("Checklist", 10));
  EXPECT_EQ((std::vector<std::string>{"Task 1", "Task 3"}), Titles());
  EXPECT_EQ((std::vector<int>{0, 6, 0}), gHost.statuses);
  ASSERT_EQ(1u, itemErrors_.size());
  EXPECT_EQ("T2@1\t\tgetItemRequest failed, httpResponse=500", itemErrors_[0]);
  EXPECT_TRUE(host_.HasLog("MV Warning: failed to retrieve task 0, httpResponse=500"));
  EXPECT_NE(std::string::npos,
            ReadFileBytes(WorkFile("failedIds.tmp")).find(";Checklist\nmsgid=T2@1;\nmsgid=;\n"))
      << ReadFileBytes(WorkFile("failedIds.tmp"));
}

TEST_F(TaskReaderTest, FolderStructureOnlyReadsNoTask) {
  ASSERT_NO_FATAL_FAILURE(Connect(Checklist(2), {"/D114"}));
  EXPECT_EQ(0, Convert("Checklist"));
  EXPECT_TRUE(Sent("getItemRequest").empty());
  EXPECT_FALSE(Sent("createCursorRequest").empty());
  EXPECT_TRUE(host_.HasLog("MV Warning: messages will not be converted, only folder structure"));
  EXPECT_EQ(0, storedCount_);
}

TEST_F(TaskReaderTest, TheDemoMailboxTasksReachTheHost) {
  ASSERT_TRUE(server_.Start()) << server_.LastError();  // the built-in demo mailbox
  ASSERT_EQ(0, LogOn("alice", "secret"));
  EXPECT_EQ(0, Convert("Checklist", 10));
  EXPECT_EQ((std::vector<std::string>{"Send the travel expenses", "Book the meeting room"}),
            Titles());
  ASSERT_EQ(1u, gHost.stored[0].parts.size());
  EXPECT_EQ("Receipts from the Berlin trip, please.\n", gHost.stored[0].parts[0].bytes);
  // The second task's description is HTML only: its text form follows it.
  ASSERT_EQ(2u, gHost.stored[1].parts.size());
  EXPECT_EQ("Message.txt", gHost.stored[1].parts[1].name);
  EXPECT_EQ(0u, gHost.stored[1].parts[1].bytes.find(
                    "Room 2 for the project review, with a projector."))
      << gHost.stored[1].parts[1].bytes;
  EXPECT_TRUE(itemErrors_.empty());
}

}  // namespace
}  // namespace reader_test
