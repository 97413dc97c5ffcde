// Views: the structures of tests/data/view32/shop.v, declared by the header
// viewc32 writes for it (so the engine's layout meets the compiler's) and
// read from the view file it writes; filled from buffers and moved into
// them, initialised to null values and tested for them, with their mapping
// options, expressions and errors.
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "shop.h"

namespace {

namespace fs = std::filesystem;

char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

std::string DataDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/view32";
}

FLDID32 Id(const char* name) { return Fldid32(Text(name)); }

// The occurrences of a field as text, "|"-separated.
std::string Values(FBFR32* fbfr, const char* name) {
  std::string text;
  for (FLDOCC32 oc = 0; oc < Foccur32(fbfr, Id(name)); ++oc) {
    const char* value = CFfind32(fbfr, Id(name), oc, nullptr, FLD_STRING);
    text += (oc == 0 ? "" : "|") + std::string(value != nullptr ? value : "?");
  }
  return text;
}

void ExpectFerror(long result, int error, const std::string& what) {
  EXPECT_EQ(result, -1) << what;
  EXPECT_EQ(Ferror32, error) << what;
  Ferror32 = 0;
}

class Views : public ::testing::Test {
 protected:
  void SetUp() override {
    UseViewFiles("shop.V", VIEW_OBJECT_DIR);  // as viewc32 wrote it
    Fnmid_unload32();
    Fidnm_unload32();
    setenv("FLDTBLDIR32", DataDir().c_str(), 1);
    setenv("FIELDTBLS32", "shop.tbl", 1);
  }
  void TearDown() override { Fvrefresh32(); }

  static void UseViewFiles(const char* files, const std::string& dirs = DataDir()) {
    setenv("VIEWDIR32", dirs.c_str(), 1);
    setenv("VIEWFILES32", files, 1);
    Fvrefresh32();
  }

  // An item as a program fills one: every member set, a few left null.
  static item Bolt() {
    item value;
    EXPECT_EQ(Fvsinit32(Raw(value), Text("item")), 1);
    value.no = 42;
    std::strcpy(value.name, "bolt");
    value.grade = 'B';
    value.price = 1.25;
    value.C_qty = 2;
    value.qty[0] = 3;
    value.qty[1] = 4;
    value.qty[2] = 9;  // beyond C_qty: not moved
    std::memcpy(value.code[0], "ab\0\0", 4);
    value.L_code[0] = 2;
    value.C_tags = 3;
    std::strcpy(value.tags[0], "t1");
    std::strcpy(value.tags[2], "t3");  // tags[1] keeps its null value "-"
    std::strcpy(value.note, "n1");
    return value;
  }

  Fbfr fbfr_{Falloc32(40, 2000)};
};

TEST_F(Views, LayoutMatchesTheCompiledHeader) {
  EXPECT_EQ(Fvneeded32(Text("item")), static_cast<long>(sizeof(item)));
  EXPECT_EQ(Fvneeded32(Text("filled")), static_cast<long>(sizeof(filled)));
  EXPECT_EQ(Fvneeded32(Text("mixed")), static_cast<long>(sizeof(mixed)));

  // Each member set through the engine shows at the compiler's offset.
  long no = 7;
  double price = 2.5;
  short qty[] = {1, 2, 3};
  float weight = 0.25F;
  long level = 70000;
  char grade = 'g';
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_NO"), Raw(no), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_NAME"), Text("name"), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_GRADE"), &grade, 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_PRICE"), Raw(price), 0), 1);
  for (short& q : qty) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_QTY"), Raw(q), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_CODE"), Text("wxyz"), 4), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_CODE"), Text("q"), 1), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_WEIGHT"), Raw(weight), 0), 1);
  for (const char* tag : {"a", "bb", "ccc"}) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_TAGS"), Text(tag), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_LEVEL"), Raw(level), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_TEXT"), Text("mb\0text"), 7), 1);

  item value;
  std::memset(&value, 0x5A, sizeof value);
  ASSERT_EQ(Fvftos32(fbfr_.get(), Raw(value), Text("item")), 1);
  EXPECT_EQ(value.no, 7);
  EXPECT_STREQ(value.name, "name");
  EXPECT_EQ(value.grade, 'g');
  EXPECT_EQ(value.price, 2.5);
  EXPECT_EQ(value.C_qty, 3);
  EXPECT_EQ(value.qty[0] * 100 + value.qty[1] * 10 + value.qty[2], 123);
  EXPECT_EQ(std::string(value.code[0], 4), "wxyz");
  EXPECT_EQ(std::string(value.code[1], 4), std::string("q\0\0\0", 4));
  EXPECT_EQ(value.L_code[0] * 10 + value.L_code[1], 41);
  EXPECT_EQ(value.weight, 0.25F);
  EXPECT_EQ(value.C_tags, 3);
  EXPECT_EQ(std::string(value.tags[0]) + value.tags[1] + value.tags[2], "abbccc");
  EXPECT_EQ(value.L_tags[0] * 100 + value.L_tags[1] * 10 + value.L_tags[2], 234) << "string lengths count the zero";
  EXPECT_EQ(value.level, 70000);
  EXPECT_EQ(value.L_text, 7);
  EXPECT_EQ(std::string(value.text, 8), std::string("mb\0text\0", 8));
  EXPECT_EQ(value.note[0], 0x5A) << "mapped F only: left alone";
  EXPECT_EQ(value.spare[0], 0x5A) << "no field: left alone";
}

TEST_F(Views, InitialisationWritesEachMembersNullValue) {
  item value;
  std::memset(&value, 0x5A, sizeof value);
  ASSERT_EQ(Fvsinit32(Raw(value), Text("item")), 1);
  EXPECT_EQ(value.no, -1);
  EXPECT_EQ(std::string(value.name, sizeof value.name), std::string("none\0\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(value.grade, 'x');
  EXPECT_EQ(value.C_qty, 0);
  EXPECT_EQ(std::string(value.code[1], 4), std::string("\0\1\0\0", 4));
  EXPECT_EQ(value.L_code[1], 2);
  EXPECT_EQ(value.weight, 1.5F);
  EXPECT_STREQ(value.tags[2], "-");
  EXPECT_EQ(value.L_tags[2], 2);
  EXPECT_EQ(value.level, 7);
  EXPECT_EQ(std::string(value.spare, 2), std::string("\0\0", 2));

  filled more;
  std::memset(&more, 0x5A, sizeof more);
  ASSERT_EQ(Fvsinit32(Raw(more), Text("filled")), 1);
  EXPECT_EQ(std::string(more.stars[1], 6), std::string("a****\0", 6)) << "P: the last character fills the string";
  EXPECT_EQ(std::string(more.dots, 5), ".....");
  EXPECT_EQ(more.plain, 0) << "NONE";
  EXPECT_EQ(more.price, 2.25) << "type taken from the field";

  // One member alone; the others keep what they hold.
  value.no = 5;
  value.C_tags = 3;
  std::strcpy(value.tags[0], "zz");
  ASSERT_EQ(Fvselinit32(Raw(value), Text("tags"), Text("item")), 1);
  EXPECT_STREQ(value.tags[0], "-");
  EXPECT_EQ(value.no, 5);
}

TEST_F(Views, NullTestsFollowTheNullColumn) {
  item value = Bolt();
  filled more;
  ASSERT_EQ(Fvsinit32(Raw(more), Text("filled")), 1);
  const struct {
    char* cstruct;
    const char* view;
    const char* cname;
    FLDOCC32 oc;
    int expected;
  } cases[] = {
      {Raw(value), "item", "no", 0, 0},       {Raw(value), "item", "weight", 0, 1},
      {Raw(value), "item", "tags", 1, 1},     {Raw(value), "item", "tags", 2, 0},
      {Raw(value), "item", "code", 1, 1},     {Raw(value), "item", "code", 0, 0},
      {Raw(more), "filled", "stars", 0, 1},   {Raw(more), "filled", "dots", 0, 1},
      {Raw(more), "filled", "plain", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fvnull32(c.cstruct, Text(c.cname), c.oc, Text(c.view)), c.expected) << c.cname << "[" << c.oc << "]";
  }
  // Without P a text equal to the null value up to trailing zeros is null;
  // with P only the null value filled out is.
  std::memcpy(value.code[0], "\0\1\0\0", 4);
  EXPECT_EQ(Fvnull32(Raw(value), Text("code"), 0, Text("item")), 1);
  std::strcpy(more.stars[0], "a*");
  EXPECT_EQ(Fvnull32(Raw(more), Text("stars"), 0, Text("filled")), 0);

  ExpectFerror(Fvnull32(Raw(value), Text("nothing"), 0, Text("item")), FNOCNAME, "unknown member");
  ExpectFerror(Fvnull32(Raw(value), Text("qty"), 3, Text("item")), FEINVAL, "beyond the member");
  ExpectFerror(Fvnull32(nullptr, Text("qty"), 0, Text("item")), FEINVAL, "no structure");
}

TEST_F(Views, StructureToBufferInEachMode) {
  item value = Bolt();
  const auto prepared = [&] {
    Fbfr fbfr(Falloc32(40, 2000));
    long no = 1;
    float weight = 9.0F;
    EXPECT_EQ(Fadd32(fbfr.get(), Id("ITEM_NO"), Raw(no), 0), 1);
    for (const char* qty : {"10", "11", "12"}) EXPECT_EQ(CFadd32(fbfr.get(), Id("ITEM_QTY"), Text(qty), 0, FLD_STRING), 1);
    EXPECT_EQ(Fadd32(fbfr.get(), Id("ITEM_WEIGHT"), Raw(weight), 0), 1);
    return fbfr;
  };
  const auto describe = [](FBFR32* fbfr) {
    std::string text;
    for (const char* name : {"ITEM_NO", "ITEM_NAME", "ITEM_GRADE", "ITEM_QTY", "ITEM_CODE", "ITEM_WEIGHT",
                             "ITEM_TAGS", "ITEM_LEVEL", "ITEM_NOTE"}) {
      const std::string values = Values(fbfr, name);
      if (!values.empty()) text += std::string(text.empty() ? "" : " ") + name + "=" + values;
    }
    return text;
  };
  const struct {
    int mode;
    const char* expected;
  } cases[] = {
      {FUPDATE, "ITEM_NO=42 ITEM_NAME=bolt ITEM_GRADE=B ITEM_QTY=3|4|12 ITEM_CODE=ab ITEM_WEIGHT=9.000000 "
                "ITEM_TAGS=t1|t3 ITEM_NOTE=n1"},
      {FJOIN, "ITEM_NO=42 ITEM_QTY=3|4"},
      {FOJOIN, "ITEM_NO=42 ITEM_QTY=3|4|12 ITEM_WEIGHT=9.000000"},
      {FCONCAT, "ITEM_NO=1|42 ITEM_NAME=bolt ITEM_GRADE=B ITEM_QTY=10|11|12|3|4 ITEM_CODE=ab ITEM_WEIGHT=9.000000 "
                "ITEM_TAGS=t1|t3 ITEM_NOTE=n1"},
  };
  for (const auto& c : cases) {
    Fbfr fbfr = prepared();
    ASSERT_EQ(Fvstof32(fbfr.get(), Raw(value), c.mode, Text("item")), 1) << c.mode;
    EXPECT_EQ(describe(fbfr.get()), c.expected) << c.mode;
  }
  // price 1.25 is no null value (0 is), the text rides along as bytes
  Fbfr fbfr = prepared();
  value.L_text = 3;
  std::memcpy(value.text, "x\0y", 3);
  ASSERT_EQ(Fvstof32(fbfr.get(), Raw(value), FUPDATE, Text("item")), 1);
  EXPECT_EQ(Values(fbfr.get(), "ITEM_PRICE"), "1.250000");
  FLDLEN32 len = 0;
  const char* text = Ffind32(fbfr.get(), Id("ITEM_TEXT"), 0, &len);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, len), std::string("x\0y", 3));
}

TEST_F(Views, RoundTripKeepsTheStructure) {
  item sent = Bolt();
  ASSERT_EQ(Fvstof32(fbfr_.get(), Raw(sent), FUPDATE, Text("item")), 1);
  item received;
  ASSERT_EQ(Fvsinit32(Raw(received), Text("item")), 1);
  ASSERT_EQ(Fvftos32(fbfr_.get(), Raw(received), Text("item")), 1);
  EXPECT_EQ(received.no, 42);
  EXPECT_STREQ(received.name, "bolt");
  EXPECT_EQ(received.C_qty, 2);
  EXPECT_EQ(received.qty[2], 0) << "the third element was not sent: null";
  EXPECT_EQ(received.C_tags, 2) << "the null tag was not sent, so t3 moved up";
  EXPECT_STREQ(received.tags[1], "t3");
  EXPECT_EQ(received.L_code[0], 2);
  EXPECT_STREQ(received.note, "") << "F: not read back";
}

TEST_F(Views, FailuresLeaveBufferAndStructureAsTheyWere) {
  item value = Bolt();
  long no = 1;
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_NO"), Raw(no), 0), 1);
  Fbfr before(Falloc32(40, 2000));
  ASSERT_EQ(Fcpy32(before.get(), fbfr_.get()), 1);

  value.C_qty = -1;
  ExpectFerror(Fvstof32(fbfr_.get(), Raw(value), FUPDATE, Text("item")), FBADACM, "negative count member");
  EXPECT_EQ(Fcmp32(fbfr_.get(), before.get()), 0);
  value.C_qty = 2;
  ExpectFerror(Fvstof32(fbfr_.get(), Raw(value), 9, Text("item")), FEINVAL, "bad mode");

  Fbfr small(Falloc32(1, 8));
  ASSERT_EQ(Fadd32(small.get(), Id("ITEM_NO"), Raw(no), 0), 1);
  ExpectFerror(Fvstof32(small.get(), Raw(value), FCONCAT, Text("item")), FNOSPACE, "full buffer");
  EXPECT_EQ(Values(small.get(), "ITEM_NO"), "1");
  EXPECT_EQ(Foccur32(small.get(), Id("ITEM_QTY")), 0);

  // An fml32 field cannot become a string member: the member before it
  // was already read, yet the structure stays as it was.
  Fbfr inner(Falloc32(1, 100));
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ITEM_SUB"), reinterpret_cast<char*>(inner.get()), 0), 1);
  mixed target;
  target.no = 99;
  ExpectFerror(Fvftos32(fbfr_.get(), Raw(target), Text("mixed")), FEBADOP, "fml32 into a string");
  EXPECT_EQ(target.no, 99);

  alignas(8) char notBuffer[64] = {};
  ExpectFerror(Fvftos32(reinterpret_cast<FBFR32*>(notBuffer), Raw(value), Text("item")), FNOTFLD, "not a buffer");
}

TEST_F(Views, OptionsChangeTheMappingUntilRefresh) {
  item value = Bolt();
  ASSERT_EQ(Fvopt32(Text("name"), F_OFF, Text("item")), 1);
  ASSERT_EQ(Fvopt32(Text("note"), F_BOTH, Text("item")), 1);
  ASSERT_EQ(Fvopt32(Text("grade"), F_FTOS, Text("item")), 1);
  ASSERT_EQ(Fvstof32(fbfr_.get(), Raw(value), FUPDATE, Text("item")), 1);
  EXPECT_EQ(Values(fbfr_.get(), "ITEM_NAME"), "");
  EXPECT_EQ(Values(fbfr_.get(), "ITEM_GRADE"), "");
  ASSERT_EQ(Fchg32(fbfr_.get(), Id("ITEM_NAME"), 0, Text("nut"), 0), 1);
  item back;
  ASSERT_EQ(Fvsinit32(Raw(back), Text("item")), 1);
  ASSERT_EQ(Fvftos32(fbfr_.get(), Raw(back), Text("item")), 1);
  EXPECT_STREQ(back.name, "none") << "F_OFF: not read either";
  EXPECT_STREQ(back.note, "n1") << "F_BOTH: now read back";

  ASSERT_EQ(Fvopt32(Text("plain"), F_STOF, Text("filled")), 1);
  filled more;
  ASSERT_EQ(Fvsinit32(Raw(more), Text("filled")), 1);
  more.plain = 5;
  Fbfr other(Falloc32(10, 500));
  ASSERT_EQ(Fvstof32(other.get(), Raw(more), FUPDATE, Text("filled")), 1);
  EXPECT_EQ(Values(other.get(), "ITEM_NO"), "5") << "S changed to F_STOF";

  Fvrefresh32();
  ASSERT_EQ(Fvsinit32(Raw(back), Text("item")), 1);
  ASSERT_EQ(Fvftos32(fbfr_.get(), Raw(back), Text("item")), 1);
  EXPECT_STREQ(back.name, "nut") << "the view file's mapping again";

  ExpectFerror(Fvopt32(Text("name"), 7, Text("item")), FEINVAL, "bad option");
  ExpectFerror(Fvopt32(Text("nothing"), F_OFF, Text("item")), FNOCNAME, "unknown member");
  ExpectFerror(Fvopt32(Text("name"), F_OFF, Text("nothing")), FBADVIEW, "unknown view");
}

TEST_F(Views, ExpressionsNameMembersAndSeeElementsUpToTheCount) {
  item value = Bolt();
  const auto compile = [](const char* expression) { return Fvboolco32(Text(expression), Text("item")); };
  char* tree = compile("no == 42 && tags[2] == 't3' && qty[?] == 4 && !qty[2] && code[0] %% 'a.*'");
  ASSERT_NE(tree, nullptr) << Ferror32;
  EXPECT_EQ(Fvboolev32(Raw(value), tree, Text("item")), 1);
  value.C_qty = 3;  // qty[2] (9) now counts
  EXPECT_EQ(Fvboolev32(Raw(value), tree, Text("item")), 0);

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  Fvboolpr32(tree, file, Text("item"));
  std::rewind(file);
  char line[200] = {};
  ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
  std::fclose(file);
  EXPECT_STREQ(line,
               "(((((no[0] == 42) && (tags[2] == 't3')) && (qty[?] == 4)) && (!qty[2])) && (code[0] %% 'a.*'))\n");
  std::free(tree);

  tree = compile("price * 2 + level");
  ASSERT_NE(tree, nullptr) << Ferror32;
  EXPECT_EQ(Fvfloatev32(Raw(value), tree, Text("item")), 9.5) << "1.25 * 2 + 7";
  value.C_tags = -1;
  ExpectFerror(Fvboolev32(Raw(value), tree, Text("item")), FBADACM, "negative count member");
  std::free(tree);

  EXPECT_EQ(compile("ITEM_NO == 1"), nullptr);
  EXPECT_EQ(Ferror32, FNOCNAME) << "field names mean nothing here";
  EXPECT_EQ(Fvboolco32(Text("no == 1"), Text("nothing")), nullptr);
  EXPECT_EQ(Ferror32, FBADVIEW);
}

TEST_F(Views, ViewFilesAreFoundOrReportedAsDocumented) {
  item value;
  ExpectFerror(Fvsinit32(Raw(value), Text("nothing")), FBADVIEW, "unknown view");
  ExpectFerror(Fvneeded32(Text("nothing")), FEINVAL, "Fvneeded32 of an unknown view");
  ExpectFerror(Fvsinit32(nullptr, Text("item")), FEINVAL, "no structure");
  ExpectFerror(Fvselinit32(Raw(value), Text("nothing"), Text("item")), FNOCNAME, "unknown member");

  const fs::path dir = fs::temp_directory_path() / ("fml32_view_test_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "bad.v") << "VIEW broken\nlong no ITEM_NO 1 - -\nEND\n";
  std::ofstream(dir / "other") << "VIEW other\nshort a - 1 - - 3\nEND\n";

  UseViewFiles("shop.v,missing.v", DataDir());
  EXPECT_EQ(Fvneeded32(Text("item")), static_cast<long>(sizeof(item))) << "found before the missing file matters";
  ExpectFerror(Fvneeded32(Text("nothing")), FVFOPEN, "a file could not be read");
  UseViewFiles("bad.v", dir.string());
  ExpectFerror(Fvsinit32(Raw(value), Text("broken")), FVFSYNTAX, "malformed file");
  UseViewFiles("other.V,shop.V", dir.string() + ":" + DataDir());
  EXPECT_EQ(Fvneeded32(Text("other")), static_cast<long>(sizeof(short))) << "x.V read as x";
  EXPECT_EQ(Fvneeded32(Text("item")), static_cast<long>(sizeof(item))) << "x.V read as x.v";
  unsetenv("VIEWFILES32");
  Fvrefresh32();
  ExpectFerror(Fvneeded32(Text("item")), FEINVAL, "no view files");
  fs::remove_all(dir);
}

}  // namespace
