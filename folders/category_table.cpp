// The category table: the parser of the getCategoryListResponse and the
// lookups the item parsers make.
#include "folders/category_table.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

CategoryTable gCategoryTable;

namespace {

const int kListLineSize = 2400;
const int kCategoryValueChars = 250;

void CutAtAt(char *id) {
  char *at = strchr(id, '@');
  if (at != nullptr) *at = '\0';
}

// Adds one category. Returns 0 when the table is full.
int AddCategory(const char *id, const char *name) {
  if (gCategoryTable.count >= kMaxCategories) return 0;
  CategoryEntry *entry = new (std::nothrow) CategoryEntry();
  if (entry == nullptr) return 0;
  CopyText(entry->id, sizeof entry->id, id);
  CopyText(entry->name, sizeof entry->name, name);
  gCategoryTable.entries[gCategoryTable.count++] = entry;
  return 1;
}

}  // namespace

int ParseCategoryList(const char *responsePath) {
  DebugLog("debug: in ParseCategoryList");
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return 0;
  char id[kCategoryValueChars + 1] = "";
  char name[kCategoryValueChars + 1] = "";
  int idSeen = 0;
  const TagField fields[] = {
      {"<gwt:id>", kTagExact, id, sizeof id, kCategoryValueChars, &idSeen},
      {"<gwt:name>", kTagExact, name, sizeof name, kCategoryValueChars, nullptr},
  };
  char line[kListLineSize];
  while (ReadResponseLine(line, sizeof line, file.get())) {
    idSeen = 0;
    ScanTagTable(line, sizeof line, fields, 2, file.get());
    if (idSeen) CutAtAt(id);
    if (strcmp(line, "</gwt:category>") == 0 && !AddCategory(id, name)) break;
  }
  file.reset();
  for (int i = 0; i < gCategoryTable.count; ++i)
    DebugLog("debug: Category found: %s (id=%s)", gCategoryTable.entries[i]->name,
             gCategoryTable.entries[i]->id);
  return 1;
}

void FreeCategoryTable() {
  for (int i = 0; i < gCategoryTable.count; ++i) {
    delete gCategoryTable.entries[i];
    gCategoryTable.entries[i] = nullptr;
  }
  gCategoryTable.count = 0;
}

void LookupCategoryName(char *categoryId, char *name) {
  CutAtAt(categoryId);
  name[0] = '\0';
  for (int i = 0; i < gCategoryTable.count; ++i) {
    if (strcmp(gCategoryTable.entries[i]->id, categoryId) == 0) {
      CopyText(name, kCategoryTextSize, gCategoryTable.entries[i]->name);
      return;
    }
  }
}

void AppendCategoryName(char *categories, const char *name) {
  if (strlen(categories) + strlen(name) + 1 >= kCategoriesFieldSize) return;
  AppendText(categories, kCategoriesFieldSize, name);
  AppendText(categories, kCategoriesFieldSize, ";");
}
