// The calendar tests' fixture: a logged-on plug-in against the simulator,
// a host that keeps each stored appointment as one line of text, and that
// line for any record.
#pragma once

#include <string>
#include <vector>

#include "folders/plugin_test_support.h"
#include "plugin/host_message.h"

namespace calendar_test {

// The calendar fields of a record as one line:
// "title|place|kind=.. int=.. occ=.. mask=.. month=.. mday=.. range=.. count=.. until=..|
//  start..end|allDay=.. ev=..|alarm=../..|priv=.. busy=.. imp=..|tz=..|org=name <addr> match=..|
//  recips=name <addr> kind/status;...|parts=name kind;..."
// Dates as "2026-03-02T09:00:00Z", a null date as "-".
std::string Summary(const HostMessage *record);
std::string DateText(FILETIME date);
FILETIME Date(const char *text);  // from "2026-03-02T09:00:00Z"

// What the host was handed.
struct CalendarHost {
  std::vector<std::string> stored;  // Summary() of each SaveItem call
  std::vector<std::string> bodies;  // the text body (first kind 1 part) of each
  std::vector<int> statuses;        // every ItemNotify status, in order
  std::vector<int> saveCodes;       // SaveItem answers in turn (then 0)
  void (*onSave)(HostMessage *record) = nullptr;  // also called for each stored record
};
extern CalendarHost gCalendarHost;

class CalendarTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // InitRead with itemLimit, then ConvertFolder of the folder named name.
  int Convert(const std::string &name, int itemLimit = 0);
  // ParseAppointment of a getItemResponse holding `inner` in its item.
  int Parse(const std::string &inner);

  HostMessage *record_ = nullptr;
  int storedCount_ = -1;
};

}  // namespace calendar_test
