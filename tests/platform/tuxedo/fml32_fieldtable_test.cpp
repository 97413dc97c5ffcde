// FML32 field tables: the file format, the environment variables that find
// the tables, the name/id mapping and unloading.
#include <fml32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

std::string TableDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/fml32";
}

char* Name(const char* name) { return const_cast<char*>(name); }

class Fml32FieldTables : public ::testing::Test {
 protected:
  void SetUp() override { Use(TableDir(), "accounts.tbl,extra.tbl"); }
  void TearDown() override {
    Unload();
    unsetenv("FLDTBLDIR32");
    unsetenv("FIELDTBLS32");
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_);
  }
  static void Unload() {
    Fnmid_unload32();
    Fidnm_unload32();
  }
  static void Use(const std::string& dirs, const char* tables) {
    Unload();
    setenv("FLDTBLDIR32", dirs.c_str(), 1);
    if (tables != nullptr) {
      setenv("FIELDTBLS32", tables, 1);
    } else {
      unsetenv("FIELDTBLS32");
    }
  }
  // A directory of its own holding one table with `text`.
  std::string WriteTable(const std::string& text) {
    if (scratch_.empty()) {
      scratch_ = std::filesystem::temp_directory_path() /
                 ("fml32_tables_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
      std::filesystem::create_directories(scratch_);
    }
    std::ofstream(scratch_ / "t.tbl", std::ios::binary) << text;
    return scratch_.string();
  }
  std::filesystem::path scratch_;
};

TEST_F(Fml32FieldTables, NamesAndIdsBothWays) {
  EXPECT_EQ(Fldid32(Name("ACC_ID")), Fmkfldid32(FLD_LONG, 1001));
  EXPECT_EQ(Fldid32(Name("ACC_NAME")), Fmkfldid32(FLD_STRING, 1002));
  EXPECT_EQ(Fldid32(Name("ACC_BALANCE")), Fmkfldid32(FLD_DOUBLE, 1003));
  EXPECT_EQ(Fldid32(Name("ACC_KIND")), Fmkfldid32(FLD_CHAR, 1004));
  EXPECT_EQ(Fldid32(Name("ACC_NOTE")), Fmkfldid32(FLD_CARRAY, 1005));
  EXPECT_EQ(Fldid32(Name("ACC_COUNT")), Fmkfldid32(FLD_SHORT, 1006));
  EXPECT_EQ(Fldid32(Name("ACC_RATE")), Fmkfldid32(FLD_FLOAT, 1007));
  EXPECT_EQ(Fldid32(Name("ADDR_CITY")), Fmkfldid32(FLD_STRING, 2001));
  EXPECT_EQ(Fldid32(Name("ADDR_ZIP")), Fmkfldid32(FLD_MBSTRING, 2002));
  EXPECT_EQ(Fldid32(Name("EXTRA_FLAG")), Fmkfldid32(FLD_CHAR, 150));
  EXPECT_EQ(Fldid32(Name("EXTRA_BIG")), Fmkfldid32(FLD_STRING, FMAXNUM32));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_DOUBLE, 1003)), "ACC_BALANCE");
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_CHAR, 150)), "EXTRA_FLAG");
}

TEST_F(Fml32FieldTables, FirstMeaningOfANameWins) {
  EXPECT_EQ(Fldid32(Name("ACC_ID")), Fmkfldid32(FLD_LONG, 1001));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 2009)), "ACC_ID");
}

TEST_F(Fml32FieldTables, UnknownNamesAndIds) {
  Ferror32 = 0;
  EXPECT_EQ(Fldid32(Name("NO_SUCH_FIELD")), BADFLDID);
  EXPECT_EQ(Ferror32, FBADNAME);
  Ferror32 = 0;
  EXPECT_EQ(Fname32(Fmkfldid32(FLD_LONG, 1002)), nullptr);  // number known, with another type
  EXPECT_EQ(Ferror32, FBADFLD);
  Ferror32 = 0;
  EXPECT_EQ(Fldid32(nullptr), BADFLDID);
  EXPECT_EQ(Ferror32, FBADNAME);
}

TEST_F(Fml32FieldTables, MissingTableIsReported) {
  Use(TableDir(), "accounts.tbl,missing.tbl");
  Ferror32 = 0;
  EXPECT_EQ(Fldid32(Name("ACC_ID")), BADFLDID);
  EXPECT_EQ(Ferror32, FFTOPEN);
  Ferror32 = 0;
  EXPECT_EQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), nullptr);
  EXPECT_EQ(Ferror32, FFTOPEN);
}

TEST_F(Fml32FieldTables, SyntaxErrorIsReported) {
  Use(TableDir(), "broken.tbl");
  Ferror32 = 0;
  EXPECT_EQ(Fldid32(Name("GOOD_FIELD")), BADFLDID);
  EXPECT_EQ(Ferror32, FFTSYNTAX);
}

TEST_F(Fml32FieldTables, MalformedLines) {
  for (const char* text : {"*base\n", "*base x\n", "*bass 10\nA 1 long\n", "A 1\n", "A x long\n",
                           "A-B 1 long\n", "A 0 long\n", "*base -5\nA 5 long\n", "A 33554432 long\n",
                           "A 1 LONG\n"}) {
    Use(WriteTable(text), "t.tbl");
    Ferror32 = 0;
    EXPECT_EQ(Fldid32(Name("A")), BADFLDID) << text;
    EXPECT_EQ(Ferror32, FFTSYNTAX) << text;
  }
  Use(WriteTable("\r\n  # indented comment\r\n$ header text\r\nA\t7\tlong\t-\tcomment words\r\n"), "t.tbl");
  EXPECT_EQ(Fldid32(Name("A")), Fmkfldid32(FLD_LONG, 7));
}

TEST_F(Fml32FieldTables, DirectoriesAreSearchedInOrder) {
  const std::string mine = WriteTable("ACC_ID 5 string\n");
  Use(mine + ":" + TableDir(), "t.tbl,accounts.tbl");
  EXPECT_EQ(Fldid32(Name("ACC_ID")), Fmkfldid32(FLD_STRING, 5));
  EXPECT_EQ(Fldid32(Name("ACC_NAME")), Fmkfldid32(FLD_STRING, 1002));
  Use("/nonexistent:" + TableDir(), "accounts.tbl");
  EXPECT_EQ(Fldid32(Name("ACC_NAME")), Fmkfldid32(FLD_STRING, 1002));
}

TEST_F(Fml32FieldTables, AbsolutePathsNeedNoDirectory) {
  Use("/nonexistent", (TableDir() + "/extra.tbl").c_str());
  EXPECT_EQ(Fldid32(Name("EXTRA_FLAG")), Fmkfldid32(FLD_CHAR, 150));
}

TEST_F(Fml32FieldTables, DefaultTableName) {
  Use(TableDir(), nullptr);
  EXPECT_EQ(Fldid32(Name("DEFAULT_FIELD")), Fmkfldid32(FLD_STRING, 400));
}

TEST_F(Fml32FieldTables, UnloadReadsTheEnvironmentAgain) {
  EXPECT_EQ(Fldid32(Name("ACC_ID")), Fmkfldid32(FLD_LONG, 1001));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), "ACC_ID");
  setenv("FIELDTBLS32", "fld.tbl", 1);
  // Still loaded: the environment is read on loading only.
  EXPECT_EQ(Fldid32(Name("ACC_ID")), Fmkfldid32(FLD_LONG, 1001));
  Fnmid_unload32();
  Ferror32 = 0;
  EXPECT_EQ(Fldid32(Name("ACC_ID")), BADFLDID);
  EXPECT_EQ(Ferror32, FBADNAME);
  EXPECT_EQ(Fldid32(Name("DEFAULT_FIELD")), Fmkfldid32(FLD_STRING, 400));
  // The other direction is unloaded separately.
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), "ACC_ID");
  Fidnm_unload32();
  EXPECT_EQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), nullptr);
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_STRING, 400)), "DEFAULT_FIELD");
}

TEST_F(Fml32FieldTables, FailedLoadIsRetried) {
  const std::string dir = WriteTable("");
  std::filesystem::remove(std::filesystem::path(dir) / "t.tbl");
  Use(dir, "t.tbl");
  Ferror32 = 0;
  EXPECT_EQ(Fldid32(Name("LATE")), BADFLDID);
  EXPECT_EQ(Ferror32, FFTOPEN);
  std::ofstream(std::filesystem::path(dir) / "t.tbl") << "LATE 123 carray\n";
  EXPECT_EQ(Fldid32(Name("LATE")), Fmkfldid32(FLD_CARRAY, 123));
}

}  // namespace
