// What both reports show besides their per-folder lines: the items counted
// by kind (mail, appointments, tasks, contacts, groups), the warnings a
// format gave for items it could not keep exactly as they were, and the
// items passed over as written earlier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace report {

// Kinds counted, in the order the summary and the JSON show them.
enum ItemKind {
  kKindMail = 0,
  kKindAppointment = 1,
  kKindTask = 2,
  kKindContact = 3,
  kKindGroup = 4,
  kKindCount = 5,
};

struct KindCounts {
  int64_t count[kKindCount] = {};
};

// The kind of a record from its item kind (0 mail, 1 contact or group,
// 2 appointment, 3 task) and its contact flag (1: a group); -1 for any other.
int KindOfRecord(int itemKind, int contactFlag);

// Adds one record to counts; a record of no known kind is not counted.
void CountKind(KindCounts *counts, int itemKind, int contactFlag);

// True when any kind has a count.
bool AnyKind(const KindCounts &counts);

// "3 mail, 1 appointment, 2 tasks": the kinds with a count, in kind order;
// "" when none has one.
std::string KindsLine(const KindCounts &counts);

// {"mail": 3, "appointments": 1, "tasks": 2, "contacts": 0, "groups": 0}
std::string KindsJson(const KindCounts &counts);

// One thing a format could not keep as the item had it; the item was
// written all the same.
struct ItemWarning {
  std::string folder;   // "^"-joined GroupWise path
  std::string item;     // GroupWise id (export) or the item's name (import)
  std::string subject;
  std::string text;     // what was changed or left out
};

// An item counted as earlier: written by a run before this one (or, on
// import, a second copy of a message in this run), listed so the user can
// check what was passed over. The same fields as a warning; text says why.
using EarlierItem = ItemWarning;

// "TITLE (N):" and a line per item, "  folder  item  subject="..."  text",
// at most kSummaryFailuresShown lines. "" when there is none.
std::string ItemListSummary(const std::string &title, const std::vector<ItemWarning> &items);

// A JSON array of {"folder": ..., "item": ..., "subject": ..., TEXTKEY: ...},
// one object per line, each line starting with `indent`.
std::string ItemListJson(const std::vector<ItemWarning> &items, const std::string &indent, const char *textKey);

// "Warnings (N):" and a line per warning, "  folder  item  subject="..."  text",
// at most kSummaryFailuresShown lines as for failures. "" when there is none.
std::string WarningsSummary(const std::vector<ItemWarning> &warnings);

// A JSON array of {"folder": ..., "item": ..., "subject": ..., "warning": ...},
// one object per line, each line starting with `indent`.
std::string WarningsJson(const std::vector<ItemWarning> &warnings, const std::string &indent);

// How many of `total` listed lines the summaries show one by one: all up to
// kSummaryFailuresShown, else one less (the last line then counts the rest).
size_t LinesShown(size_t total);

// "... and N more (--report FILE.json lists every one)\n" when shown < total, else "".
std::string MoreLine(size_t total, size_t shown);

}  // namespace report
