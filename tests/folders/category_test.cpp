// The category table: parsing the list, looking ids up, and filling the
// 500-byte categories field of an item.
#include <cstring>
#include <string>

#include "folders/category_table.h"
#include "platform/bounded_text.h"
#include "plugin_test_support.h"

namespace {

using CategoryTest = plugin_test::PluginTest;

TEST_F(CategoryTest, ListAppendsUpToOneHundredAndLookupCutsIdsAtTheAtSign) {
  std::string saved = plugin_test::TestData("folders/category_list.xml");
  ASSERT_EQ(1, ParseCategoryList(Reshaped(saved, "c.xml").c_str()));
  std::string inner = "<gwm:categories>";
  for (int i = 0; i < 105; ++i)
    inner += "<gwt:category><gwt:id>C" + std::to_string(i) + "@1</gwt:id><gwt:name>N" +
             std::to_string(i) + "</gwt:name></gwt:category>";
  std::string more = plugin_test::Answer("getCategoryListResponse", inner + "</gwm:categories>");
  ASSERT_EQ(1, ParseCategoryList(Reshaped(more, "more.xml").c_str()));
  EXPECT_EQ(kMaxCategories, gCategoryTable.count);  // appended after the three, then cut
  // The caller's id buffer is cut in place.
  const struct { const char *id, *name, *idAfter; } cases[] = {
      {"ABC@1", "Business", "ABC"},    // listed as ABC@7: both cut at "@"
      {"abc@1", "lower case", "abc"},  // case counts: not Business
      {"Abc@7", "", "Abc"},
      {"DEF@8@9", "Personal & Family", "DEF"},
      {"C96@2", "N96", "C96"},  // the hundredth entry
      {"C97@1", "", "C97"},     // dropped
  };
  for (const auto &c : cases) {
    char id[64], name[kCategoryTextSize] = "stale";
    CopyText(id, sizeof id, c.id);
    LookupCategoryName(id, name);
    EXPECT_STREQ(c.name, name) << c.id;
    EXPECT_STREQ(c.idAfter, id) << c.id;
  }
}

TEST_F(CategoryTest, CategoriesFieldStopsBeforeFiveHundred) {
  char field[kCategoriesFieldSize] = "";
  for (const char *name : {"Business", "Personal", ""})  // an unknown id still marks its place
    AppendCategoryName(field, name);
  EXPECT_STREQ("Business;Personal;;", field);
  const struct { size_t filled, nameLength; bool appended; } cases[] = {
      {489, 9, true},   // 489 + 9 + 1 = 499 fits
      {490, 9, false},  // 500 would fill the field to its last byte
      {0, 499, false},
  };
  for (const auto &c : cases) {
    char text[kCategoriesFieldSize];
    CopyText(text, sizeof text, std::string(c.filled, 'f').c_str());
    AppendCategoryName(text, std::string(c.nameLength, 'n').c_str());
    size_t expected = c.appended ? c.filled + c.nameLength + 1 : c.filled;
    EXPECT_EQ(expected, strlen(text)) << c.filled << "+" << c.nameLength;
  }
}

}  // namespace
