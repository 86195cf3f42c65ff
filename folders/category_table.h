// The category table: the mailbox's categories, id to name, read at logon
// and used by the item parsers to name an item's categories.
#pragma once

#include <cstdint>

enum {
  kMaxCategories = 100,
  kCategoryTextSize = 1024,
  kCategoriesFieldSize = 500,  // the categories field of the HostMessage
};

// One heap block of 2048 bytes per category.
struct CategoryEntry {
  char name[kCategoryTextSize];  // <gwt:name>, at most 250 characters
  char id[kCategoryTextSize];    // <gwt:id> cut at its first "@"
};

struct CategoryTable {
  CategoryEntry *entries[kMaxCategories];
  int32_t count;
};

extern CategoryTable gCategoryTable;

// Appends the categories of a saved getCategoryListResponse to the table
// (the table is not emptied first; the 101st and later are dropped).
// Returns 1 when the file was read, 0 when it cannot be opened.
int ParseCategoryList(const char *responsePath);

// Frees every entry; the count becomes 0. Cannot fail.
void FreeCategoryTable();

// Cuts categoryId at its first "@" in place, then copies the name of the
// first entry with that id (case counts) into name (1024 bytes), or "" when
// there is none.
void LookupCategoryName(char *categoryId, char *name);

// Appends name and ";" to the 500-byte categories field when the field's
// length plus the name's length plus 1 is less than 500; else leaves the
// field unchanged.
void AppendCategoryName(char *categories, const char *name);
