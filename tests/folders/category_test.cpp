// The category table: parsing the list, looking ids up, and filling the
// 500-byte categories field of an item.
#include <gtest/gtest.h>

#include <string>

#include "folders/category_table.h"
#include "platform/bounded_text.h"
#include "plugin_test_support.h"

namespace {

class CategoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_test::ResetPluginState();
    host_.Init();
    plugin_test::UseHostDirectories(host_);
  }
  void TearDown() override { plugin_test::ResetPluginState(); }

  void ParseRaw(const std::string &raw) {
    std::string path = host_.workDir() + "categories.xml";
    plugin_test::ReshapeToFile(raw, path);
    ASSERT_EQ(1, ParseCategoryList(path.c_str()));
  }

  testing_support::TestHost host_;
};

TEST_F(CategoryTest, LookupCutsIdsAtTheAtSignAndComparesCase) {
  ParseRaw(plugin_test::TestData("folders/category_list.xml"));
  ASSERT_EQ(3, gCategoryTable.count);
  EXPECT_STREQ("ABC", gCategoryTable.entries[0]->id);
  EXPECT_STREQ("Personal & Family", gCategoryTable.entries[1]->name);

  struct Case {
    const char *id;
    const char *name;
    const char *idAfter;  // the caller's buffer is cut in place
  };
  const Case cases[] = {
      {"ABC@1", "Business", "ABC"},        // listed as ABC@7: both cut at "@"
      {"ABC", "Business", "ABC"},
      {"abc@1", "lower case", "abc"},      // case counts: not Business
      {"Abc@7", "", "Abc"},
      {"DEF@8@9", "Personal & Family", "DEF"},
      {"XYZ@1", "", "XYZ"},                // unknown: empty name
      {"", "", ""},
  };
  for (const Case &c : cases) {
    char id[64], name[kCategoryTextSize] = "stale";
    CopyText(id, sizeof id, c.id);
    LookupCategoryName(id, name);
    EXPECT_STREQ(c.name, name) << c.id;
    EXPECT_STREQ(c.idAfter, id) << c.id;
  }
}

TEST_F(CategoryTest, ListKeepsAtMostOneHundredAndLogonAppends) {
  std::string inner = "<gwm:categories>";
  for (int i = 0; i < 105; ++i)
    inner += "<gwt:category><gwt:id>C" + std::to_string(i) + "@1</gwt:id><gwt:name>N" +
             std::to_string(i) + "</gwt:name></gwt:category>";
  inner += "</gwm:categories>";
  ParseRaw(plugin_test::Answer("getCategoryListResponse", inner));
  ASSERT_EQ(kMaxCategories, gCategoryTable.count);
  EXPECT_STREQ("C99", gCategoryTable.entries[99]->id);
  char id[16] = "C100", name[kCategoryTextSize];
  LookupCategoryName(id, name);
  EXPECT_STREQ("", name);

  FreeCategoryTable();
  EXPECT_EQ(0, gCategoryTable.count);
  EXPECT_EQ(0, ParseCategoryList((host_.workDir() + "absent.xml").c_str()));
}

TEST_F(CategoryTest, CategoriesFieldStopsBeforeFiveHundred) {
  char field[kCategoriesFieldSize] = "";
  AppendCategoryName(field, "Business");
  AppendCategoryName(field, "Personal");
  EXPECT_STREQ("Business;Personal;", field);
  AppendCategoryName(field, "");  // an unknown id still marks its place
  EXPECT_STREQ("Business;Personal;;", field);

  struct Case {
    size_t filled, nameLength;
    bool appended;
  };
  const Case cases[] = {
      {489, 9, true},    // 489 + 9 + 1 = 499 fits
      {490, 9, false},   // 500 would fill the field to its last byte
      {0, 499, false},
      {0, 498, true},
  };
  for (const Case &c : cases) {
    char text[kCategoriesFieldSize];
    CopyText(text, sizeof text, std::string(c.filled, 'f').c_str());
    AppendCategoryName(text, std::string(c.nameLength, 'n').c_str());
    size_t expected = c.appended ? c.filled + c.nameLength + 1 : c.filled;
    EXPECT_EQ(expected, std::string(text).size()) << c.filled << "+" << c.nameLength;
  }
  // A name that does not fit leaves room for a later, shorter one.
  char text[kCategoriesFieldSize];
  CopyText(text, sizeof text, std::string(480, 'f').c_str());
  AppendCategoryName(text, std::string(30, 'n').c_str());
  AppendCategoryName(text, "short");
  EXPECT_EQ(std::string(480, 'f') + "short;", text);
}

}  // namespace
