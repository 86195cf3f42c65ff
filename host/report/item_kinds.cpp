// Counting items by kind and listing the warnings, for both reports.
#include "host/report/item_kinds.h"

#include "host/report/export_report.h"

namespace report {

namespace {

struct KindName {
  const char *one;   // summary, count of 1
  const char *many;  // summary otherwise, and the JSON key
};

const KindName kKindNames[kKindCount] = {
    {"mail", "mail"},
    {"appointment", "appointments"},
    {"task", "tasks"},
    {"contact", "contacts"},
    {"group", "groups"},
};

}  // namespace

int KindOfRecord(int itemKind, int contactFlag) {
  switch (itemKind) {
    case 0: return kKindMail;
    case 1: return contactFlag == 1 ? kKindGroup : kKindContact;
    case 2: return kKindAppointment;
    case 3: return kKindTask;
    default: return -1;
  }
}

void CountKind(KindCounts *counts, int itemKind, int contactFlag) {
  const int kind = KindOfRecord(itemKind, contactFlag);
  if (kind >= 0) ++counts->count[kind];
}

bool AnyKind(const KindCounts &counts) {
  for (int64_t n : counts.count)
    if (n != 0) return true;
  return false;
}

std::string KindsLine(const KindCounts &counts) {
  std::string out;
  for (int k = 0; k < kKindCount; ++k) {
    if (counts.count[k] == 0) continue;
    if (!out.empty()) out += ", ";
    out += std::to_string(counts.count[k]) + " " + (counts.count[k] == 1 ? kKindNames[k].one : kKindNames[k].many);
  }
  return out;
}

std::string KindsJson(const KindCounts &counts) {
  std::string out = "{";
  for (int k = 0; k < kKindCount; ++k)
    out += std::string(k == 0 ? "" : ", ") + "\"" + kKindNames[k].many + "\": " + std::to_string(counts.count[k]);
  return out + "}";
}

size_t LinesShown(size_t total) { return total > kSummaryFailuresShown ? kSummaryFailuresShown - 1 : total; }

std::string MoreLine(size_t total, size_t shown) {
  if (shown >= total) return "";
  return "... and " + std::to_string(total - shown) + " more (--report FILE.json lists every one)\n";
}

std::string ItemListSummary(const std::string &title, const std::vector<ItemWarning> &items) {
  if (items.empty()) return "";
  std::string out = title + " (" + std::to_string(items.size()) + "):\n";
  const size_t shown = LinesShown(items.size());
  for (size_t i = 0; i < shown; ++i) {
    const ItemWarning &w = items[i];
    out += "  " + w.folder + "  " + (w.item.empty() ? "(unknown)" : w.item) + "  subject=\"" + w.subject + "\"  " +
           w.text + "\n";
  }
  const std::string more = MoreLine(items.size(), shown);
  return out + (more.empty() ? "" : "  " + more);
}

std::string ItemListJson(const std::vector<ItemWarning> &items, const std::string &indent, const char *textKey) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    const ItemWarning &w = items[i];
    out += (i == 0 ? "\n" : ",\n") + indent + "{\"folder\": " + JsonText(w.folder) + ", \"item\": " +
           JsonText(w.item) + ", \"subject\": " + JsonText(w.subject) + ", \"" + textKey + "\": " + JsonText(w.text) +
           "}";
  }
  return out + "]";
}

std::string WarningsSummary(const std::vector<ItemWarning> &warnings) { return ItemListSummary("Warnings", warnings); }

std::string WarningsJson(const std::vector<ItemWarning> &warnings, const std::string &indent) {
  return ItemListJson(warnings, indent, "warning");
}

}  // namespace report
