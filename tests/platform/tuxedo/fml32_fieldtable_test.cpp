// FML32 field tables: the file format, the environment variables that find
// the tables, the name/id mapping and unloading.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

class Fml32FieldTables : public ::testing::Test {
 protected:
  void SetUp() override { Use(TableDir(), "accounts.tbl,extra.tbl"); }
  void TearDown() override {
    Use("", nullptr);
    unsetenv("FLDTBLDIR32");
    std::filesystem::remove_all(scratch_);
  }
  // Unloads the tables and names new ones; null unsets FIELDTBLS32.
  static void Use(const std::string& dirs, const char* tables) {
    Fnmid_unload32();
    Fidnm_unload32();
    setenv("FLDTBLDIR32", dirs.c_str(), 1);
    tables != nullptr ? setenv("FIELDTBLS32", tables, 1) : unsetenv("FIELDTBLS32");
  }
  // A directory of the test's own holding t.tbl with `text`.
  std::string WriteTable(const std::string& text) {
    std::filesystem::create_directories(scratch_);
    std::ofstream(scratch_ / "t.tbl", std::ios::binary) << text;
    return scratch_.string();
  }
  static FLDID32 Id(const char* name) { return Fldid32(Text(name)); }
  const std::filesystem::path scratch_ =
      std::filesystem::temp_directory_path() / ("fml32_tables_" + std::to_string(::getpid()));
};

TEST_F(Fml32FieldTables, NamesAndIdsBothWays) {
  // ACC_ID: not 2009, the first meaning wins; ACC_KIND: indented with a tab;
  // ADDR_ZIP: after the second *base; EXTRA_*: the second table, no base.
  for (const auto& [name, id] : {std::pair{"ACC_ID", Fmkfldid32(FLD_LONG, 1001)},
                                 {"ACC_KIND", Fmkfldid32(FLD_CHAR, 1004)},
                                 {"ACC_RATE", Fmkfldid32(FLD_FLOAT, 1007)},
                                 {"ADDR_ZIP", Fmkfldid32(FLD_MBSTRING, 2002)},
                                 {"EXTRA_FLAG", Fmkfldid32(FLD_CHAR, 150)},
                                 {"EXTRA_BIG", Fmkfldid32(FLD_STRING, FMAXNUM32)}}) {
    EXPECT_EQ(Id(name), id) << name;
    EXPECT_STREQ(Fname32(id), name);
  }
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 2009)), "ACC_ID");
  Ferror32 = 0;
  ExpectFerror(Id("NO_SUCH_FIELD") == BADFLDID, FBADNAME, "unknown name");
  ExpectFerror(Fldid32(nullptr) == BADFLDID, FBADNAME, "null name");
  // A known number with another type.
  ExpectFerror(Fname32(Fmkfldid32(FLD_LONG, 1002)) == nullptr, FBADFLD, "unknown id");
}

TEST_F(Fml32FieldTables, TablesThatCannotBeLoaded) {
  Use(TableDir(), "accounts.tbl,missing.tbl");
  ExpectFerror(Id("ACC_ID") == BADFLDID, FFTOPEN, "Fldid32 with a table missing");
  ExpectFerror(Fname32(Fmkfldid32(FLD_LONG, 1001)) == nullptr, FFTOPEN, "Fname32 the same");
  Use(TableDir(), "broken.tbl");
  ExpectFerror(Id("GOOD_FIELD") == BADFLDID, FFTSYNTAX, "broken.tbl");
  for (const char* text : {"*base\n", "*base x\n", "*bass 10\nA 1 long\n", "A 1\n", "A x long\n",
                           "A-B 1 long\n", "A 0 long\n", "*base -5\nA 5 long\n",
                           "A 33554432 long\n", "A 1 LONG\n"}) {
    Use(WriteTable(text), "t.tbl");
    ExpectFerror(Id("A") == BADFLDID, FFTSYNTAX, text);
  }
  Use(WriteTable("\r\n  # comment\r\n$ header text\r\nA\t7\tlong\t-\tcomment words\r\n"), "t.tbl");
  EXPECT_EQ(Id("A"), Fmkfldid32(FLD_LONG, 7));
  // A failed load is tried again.
  std::filesystem::remove(scratch_ / "t.tbl");
  Use(scratch_.string(), "t.tbl");
  ExpectFerror(Id("LATE") == BADFLDID, FFTOPEN, "t.tbl removed");
  std::ofstream(scratch_ / "t.tbl") << "LATE 123 carray\n";
  EXPECT_EQ(Id("LATE"), Fmkfldid32(FLD_CARRAY, 123));
}

TEST_F(Fml32FieldTables, TablesAreFoundThroughTheEnvironment) {
  const std::string mine = WriteTable("ACC_ID 5 string\n");
  Use(mine + ":" + TableDir(), "t.tbl,accounts.tbl");  // directories in order
  EXPECT_EQ(Id("ACC_ID"), Fmkfldid32(FLD_STRING, 5));
  EXPECT_EQ(Id("ACC_NAME"), Fmkfldid32(FLD_STRING, 1002));
  Use("/nonexistent:" + TableDir(), "accounts.tbl");
  EXPECT_EQ(Id("ACC_NAME"), Fmkfldid32(FLD_STRING, 1002));
  Use("/nonexistent", (TableDir() + "/extra.tbl").c_str());  // an absolute path
  EXPECT_EQ(Id("EXTRA_FLAG"), Fmkfldid32(FLD_CHAR, 150));
  Use(TableDir(), nullptr);  // fld.tbl by default
  EXPECT_EQ(Id("DEFAULT_FIELD"), Fmkfldid32(FLD_STRING, 400));
}

TEST_F(Fml32FieldTables, EachDirectionIsUnloadedOnItsOwnAndReloadsTheEnvironment) {
  EXPECT_EQ(Id("ACC_ID"), Fmkfldid32(FLD_LONG, 1001));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), "ACC_ID");
  setenv("FIELDTBLS32", "fld.tbl", 1);
  EXPECT_EQ(Id("ACC_ID"), Fmkfldid32(FLD_LONG, 1001));  // read on loading only
  Fnmid_unload32();
  ExpectFerror(Id("ACC_ID") == BADFLDID, FBADNAME, "ACC_ID after Fnmid_unload32");
  EXPECT_EQ(Id("DEFAULT_FIELD"), Fmkfldid32(FLD_STRING, 400));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), "ACC_ID");
  Fidnm_unload32();
  EXPECT_EQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), nullptr);
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_STRING, 400)), "DEFAULT_FIELD");
}

}  // namespace
