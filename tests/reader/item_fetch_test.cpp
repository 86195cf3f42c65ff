// One item fetch for every folder kind: the request each kind sends, its
// debug copies and the warning and failure report of an item the server
// would not give.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert_support.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "reader/folder_driver.h"

namespace reader_test {
namespace {

// Two items of each kind, the second of which the cases make fail.
const char kMailbox[] =
    "<folder name=\"Mailbox\" type=\"Mailbox\">"
    "<item id=\"M1@1\" subject=\"Mail 1\" created=\"2026-01-01T09:00:00Z\""
    " delivered=\"2026-01-01T09:00:00Z\"><from name=\"Dan\" email=\"dan@example.com\"/>"
    "<text>Body 1</text></item>"
    "<item id=\"M2@1\" subject=\"Mail 2\" created=\"2026-01-02T09:00:00Z\""
    " delivered=\"2026-01-02T09:00:00Z\"><from name=\"Dan\" email=\"dan@example.com\"/>"
    "<text>Body 2</text></item>"
    "</folder>"
    "<folder name=\"Calendar\" type=\"Calendar\">"
    "<item id=\"A1@1\" kind=\"Appointment\" subject=\"Sync 1\" created=\"2026-03-01T08:00:00Z\""
    " start=\"2026-03-02T09:00:00Z\" end=\"2026-03-02T10:00:00Z\"/>"
    "<item id=\"A2@1\" kind=\"Appointment\" subject=\"Sync 2\" created=\"2026-03-01T08:00:00Z\""
    " start=\"2026-03-03T09:00:00Z\" end=\"2026-03-03T10:00:00Z\"/>"
    "</folder>"
    "<folder name=\"Checklist\" type=\"Checklist\">"
    "<item id=\"T1@1\" kind=\"Task\" subject=\"Task 1\" created=\"2026-01-01T09:00:00Z\">"
    "<task start=\"2026-03-05\" due=\"2026-03-07\"/></item>"
    "<item id=\"T2@1\" kind=\"Task\" subject=\"Task 2\" created=\"2026-01-02T09:00:00Z\">"
    "<task start=\"2026-03-05\" due=\"2026-03-07\"/></item>"
    "</folder>"
    "<book name=\"People\" id=\"BOOK.P@14\">"
    "<item kind=\"Contact\" id=\"ANN@1\" subject=\"Ann Lee\"><name first=\"Ann\" last=\"Lee\"/>"
    "</item>"
    "<item kind=\"Contact\" id=\"BOB@1\" subject=\"Bob Ray\"><name first=\"Bob\" last=\"Ray\"/>"
    "</item>"
    "</book>";

class ItemFetchTest : public ConvertTest {};

TEST_F(ItemFetchTest, EachKindAsksLogsAndReportsAsItsOwn) {
  struct Case {
    const char *why;
    const char *folder;
    int32_t RunSettings::*debugSwitch;  // set for the case, or null
    gwsim::FaultKind fault;             // of the second item's getItemRequest
    int faultStatus;
    const char *firstRequest;
    std::vector<std::string> copies;  // debug copies made, the counter starting at 0
    const char *copyLog;              // the debug line of the first copy
    const char *warning;
    const char *itemError;
  };
  const Case cases[] = {
      {"mail: the full view, copies under /MAILDEBUG, named by the 1-based position",
       "Mailbox", &RunSettings::mailDebug, gwsim::FaultKind::kStatus, 500,
       "<m:getItemRequest>\n<id>M1@1</id>\n<view>default recipients message/RTF attachments "
       "recipientStatus peek</view>\n</m:getItemRequest>\n",
       {"msg0.xml", "msg1.xml"}, "debug: copied getItem response to ",
       "MV Warning: failed to retrieve message 2, httpResponse=500",
       "M2@1\t\tgetItemRequest failed, httpResponse=500"},
      {"mail refused by the server: the same position, the code", "Mailbox", nullptr,
       gwsim::FaultKind::kCode, 59906,
       "<m:getItemRequest>\n<id>M1@1</id>\n<view>default recipients message/RTF attachments "
       "recipientStatus peek</view>\n</m:getItemRequest>\n",
       {}, nullptr, "MV Warning: failed to retrieve message 2, code=59906",
       "M2@1\t\tgetItemRequest failed, code=59906"},
      {"calendar: named by its debug copy when the HTTP status fails", "Calendar",
       &RunSettings::calDebug, gwsim::FaultKind::kStatus, 500,
       "<m:getItemRequest>\n<id>A1@1</id>\n<view>all default recipientStatus attachment peek"
       "</view>\n</m:getItemRequest>\n",
       {"cal0.xml", "cal1.xml"}, "debug: copied getItem response to ",
       "MV Warning: failed to retrieve calendar entry 1, httpResponse=500",
       "A2@1\t\tgetItemRequest failed, httpResponse=500"},
      {"calendar refused by the server: named by its id", "Calendar", nullptr,
       gwsim::FaultKind::kCode, 59906,
       "<m:getItemRequest>\n<id>A1@1</id>\n<view>all default recipientStatus attachment peek"
       "</view>\n</m:getItemRequest>\n",
       {}, nullptr, "MV Warning: failed to retrieve calendar entry A2@1, code=59906",
       "A2@1\t\tgetItemRequest failed, code=59906"},
      {"task: /CALDEBUG copies too, named by the tasks read before it less one", "Checklist",
       &RunSettings::calDebug, gwsim::FaultKind::kStatus, 500,
       "<m:getItemRequest>\n<id>T1@1</id>\n<view>all default checklist attachment peek</view>\n"
       "</m:getItemRequest>\n",
       {"task0.xml", "task1.xml"}, "debug: copied getItem response to ",
       "MV Warning: failed to retrieve task 0, httpResponse=500",
       "T2@1\t\tgetItemRequest failed, httpResponse=500"},
      {"address book: no view, /CONDEBUG copies, named by the position from 0", "People",
       &RunSettings::conDebug, gwsim::FaultKind::kCode, 59906,
       "<m:getItemRequest>\n<id>ANN@1</id>\n</m:getItemRequest>\n", {"abook0.xml", "abook1.xml"},
       "debug: copied Abook getItem response to ",
       "MV Warning: failed to retrieve abook entry 1, code=59906",
       "BOB@1\t\tgetItemRequest failed, code=59906"},
  };
  ASSERT_NO_FATAL_FAILURE(Connect(kMailbox));
  const std::string debugDir = host_.dataDir() + "debug/alice/";
  mkdir((host_.dataDir() + "debug").c_str(), 0755);
  mkdir(debugDir.c_str(), 0755);
  gRunSettings.debug = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    server_.ClearFaults();
    host_.ClearLog();
    gHost = HostLog();
    itemErrors_.clear();
    gItemCopyCounter = 0;
    // Each case reads its folder as if for the first time.
    CopyText(record_->hostFolder, sizeof record_->hostFolder, c.why);
    if (c.debugSwitch != nullptr) gRunSettings.*c.debugSwitch = 1;
    const size_t before = Sent("getItemRequest").size();
    gwsim::Fault fault;
    fault.kind = c.fault;
    fault.status = c.faultStatus;
    fault.requestName = "getItemRequest";
    fault.nameOrdinal = static_cast<int>(before) + 2;
    server_.AddFault(fault);
    EXPECT_EQ(0, Convert(c.folder));
    if (c.debugSwitch != nullptr) gRunSettings.*c.debugSwitch = 0;

    ASSERT_EQ(before + 2, Sent("getItemRequest").size());
    EXPECT_EQ(c.firstRequest, SentBody("getItemRequest", before));
    EXPECT_EQ(static_cast<int>(c.copies.size()), gItemCopyCounter);
    for (const std::string &copy : c.copies) {
      EXPECT_TRUE(testing_support::FileExists(debugDir + copy)) << copy;
      std::remove((debugDir + copy).c_str());
    }
    if (c.copyLog != nullptr) {
      EXPECT_EQ(1, host_.CountLog(c.copyLog + debugDir + c.copies[0])) << host_.LogText();
    } else {
      EXPECT_EQ(0, host_.CountLog("debug: copied")) << host_.LogText();
    }
    EXPECT_EQ(1, host_.CountLog(c.warning)) << host_.LogText();
    EXPECT_EQ(1, host_.CountLog("MV Warning: failed to retrieve")) << host_.LogText();
    EXPECT_EQ(std::vector<std::string>{c.itemError}, itemErrors_);
    EXPECT_EQ((std::vector<int>{0, 6}), gHost.statuses);
  }
}

}  // namespace
}  // namespace reader_test
