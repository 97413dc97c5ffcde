// FML32 field tables (the file format, the environment variables that find
// them, the name/id mapping and unloading) and the text form of buffers that
// uses the names: Ffprint32 output and Fextread32 input.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

std::string Print(FBFR32* fbfr) {
  char* text = nullptr;
  std::size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  const int result = Ffprint32(fbfr, out);
  std::fclose(out);
  std::string printed(text, length);
  std::free(text);
  return result == 1 ? printed : "<error>";
}

// Reads `text` into `fbfr`; returns Fextread32's result.
int Read(FBFR32* fbfr, std::string text) {
  FILE* in = text.empty() ? std::fopen("/dev/null", "r") : fmemopen(text.data(), text.size(), "r");
  const int result = Fextread32(fbfr, in);
  std::fclose(in);
  return result;
}

// Loads the tables of tests/data/fml32; a test may write a table of its own.
class Fml32Text : public ::testing::Test {
 protected:
  void SetUp() override { UseTables(TableDir(), "accounts.tbl,extra.tbl"); }
  void TearDown() override {
    UseTables("", nullptr);
    std::filesystem::remove_all(scratch_);
  }
  // A directory of the test's own holding t.tbl with `text`.
  std::string WriteTable(const std::string& text) {
    std::filesystem::create_directories(scratch_);
    std::ofstream(scratch_ / "t.tbl", std::ios::binary) << text;
    return scratch_.string();
  }
  int Add(const char* name, const void* value, FLDLEN32 len = 0) {
    return Fadd32(fbfr_.get(), Id(name), static_cast<char*>(const_cast<void*>(value)), len);
  }
  const std::filesystem::path scratch_ =
      std::filesystem::temp_directory_path() / ("fml32_tables_" + std::to_string(::getpid()));
  Fbfr fbfr_{Falloc32(100, 10000)};
};
using Fml32FieldTables = Fml32Text;

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
  UseTables(TableDir(), "accounts.tbl,missing.tbl");
  ExpectFerror(Id("ACC_ID") == BADFLDID, FFTOPEN, "Fldid32 with a table missing");
  ExpectFerror(Fname32(Fmkfldid32(FLD_LONG, 1001)) == nullptr, FFTOPEN, "Fname32 the same");
  UseTables(TableDir(), "broken.tbl");
  ExpectFerror(Id("GOOD_FIELD") == BADFLDID, FFTSYNTAX, "broken.tbl");
  for (const char* text : {"*base\n", "*base x\n", "*bass 10\nA 1 long\n", "A 1\n", "A x long\n",
                           "A-B 1 long\n", "A 0 long\n", "*base -5\nA 5 long\n",
                           "A 33554432 long\n", "A 1 LONG\n"}) {
    UseTables(WriteTable(text), "t.tbl");
    ExpectFerror(Id("A") == BADFLDID, FFTSYNTAX, text);
  }
  UseTables(WriteTable("\r\n  # comment\r\n$ header\r\nA\t7\tlong\t-\tcomment words\r\n"), "t.tbl");
  EXPECT_EQ(Id("A"), Fmkfldid32(FLD_LONG, 7));
  // A failed load is tried again.
  std::filesystem::remove(scratch_ / "t.tbl");
  UseTables(scratch_.string(), "t.tbl");
  ExpectFerror(Id("LATE") == BADFLDID, FFTOPEN, "t.tbl removed");
  std::ofstream(scratch_ / "t.tbl") << "LATE 123 carray\n";
  EXPECT_EQ(Id("LATE"), Fmkfldid32(FLD_CARRAY, 123));
}

// Each direction loads on its own, reading the environment as it does.
TEST_F(Fml32FieldTables, TablesAreFoundThroughTheEnvironmentWhenLoaded) {
  EXPECT_EQ(Id("ACC_ID"), Fmkfldid32(FLD_LONG, 1001));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), "ACC_ID");
  unsetenv("FIELDTBLS32");  // fld.tbl by default
  EXPECT_EQ(Id("ACC_ID"), Fmkfldid32(FLD_LONG, 1001));
  Fnmid_unload32();
  ExpectFerror(Id("ACC_ID") == BADFLDID, FBADNAME, "ACC_ID after Fnmid_unload32");
  EXPECT_EQ(Id("DEFAULT_FIELD"), Fmkfldid32(FLD_STRING, 400));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), "ACC_ID");
  Fidnm_unload32();
  EXPECT_EQ(Fname32(Fmkfldid32(FLD_LONG, 1001)), nullptr);
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_STRING, 400)), "DEFAULT_FIELD");

  UseTables(WriteTable("ACC_ID 5 string\n") + ":/nonexistent:" + TableDir(), "t.tbl,accounts.tbl");
  EXPECT_EQ(Id("ACC_ID"), Fmkfldid32(FLD_STRING, 5));  // directories in order
  EXPECT_EQ(Id("ACC_NAME"), Fmkfldid32(FLD_STRING, 1002));
  UseTables("/nonexistent", (TableDir() + "/extra.tbl").c_str());  // an absolute path
  EXPECT_EQ(Id("EXTRA_FLAG"), Fmkfldid32(FLD_CHAR, 150));
}

TEST_F(Fml32Text, PrintsNamesTabsValuesAndABlankLineInWalkOrder) {
  EXPECT_EQ(Print(fbfr_.get()), "\n");
  for (const auto& [name, value] : {std::pair{"ACC_ID", "1001"}, {"ACC_NAME", "Kowalski Jan"},
                                    {"ACC_BALANCE", "1250.5"}, {"ACC_KIND", "P"},
                                    {"ACC_NOTE", "a\tb\\c\x01\xe9"}, {"ACC_COUNT", "-3"},
                                    {"ACC_RATE", "0.25"}, {"ACC_NAME", "Nowak Anna"}}) {
    ASSERT_EQ(CFadd32(fbfr_.get(), Id(name), Text(value), 0, FLD_STRING), 1) << name;
  }
  EXPECT_EQ(Print(fbfr_.get()),
            "ACC_COUNT\t-3\nACC_ID\t1001\nACC_KIND\tP\nACC_RATE\t0.25\nACC_BALANCE\t1250.5\n"
            "ACC_NAME\tKowalski Jan\nACC_NAME\tNowak Anna\nACC_NOTE\ta\\09b\\\\c\\01\\e9\n\n");
}

TEST_F(Fml32Text, AllTypesRoundTripWithUnprintableBytes) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  const std::string carray = everyByte + std::string(1, '\0') + "\\\\\\";
  for (const short s : {0, -32768, 32767}) ASSERT_EQ(Add("ACC_COUNT", &s), 1);
  for (const long l : {0L, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()}) {
    ASSERT_EQ(Add("ACC_ID", &l), 1);
  }
  for (const float f : {0.0f, -1.5f, 3.4028235e38f, 1.17549435e-38f, 0.1f,
                        std::numeric_limits<float>::infinity()}) {
    ASSERT_EQ(Add("ACC_RATE", &f), 1);
  }
  for (const double d : {0.0, -0.0, 0.1, 1.0 / 3.0, 1e-300, 1.7976931348623157e308, 5e-324,
                         -std::numeric_limits<double>::infinity(), std::nan("")}) {
    ASSERT_EQ(Add("ACC_BALANCE", &d), 1);
  }
  for (const char c : {'\0', '\n', '\\', '\t', 'z', '\xff', ' '}) ASSERT_EQ(Add("ACC_KIND", &c), 1);
  for (const char* s : {everyByte.c_str(), "", " leading and trailing "}) {
    ASSERT_EQ(Add("ACC_NAME", s), 1);
  }
  ASSERT_EQ(Add("ACC_NOTE", carray.data(), static_cast<FLDLEN32>(carray.size())), 1);
  ASSERT_EQ(Add("ACC_NOTE", carray.data(), 0), 1);
  ASSERT_EQ(Add("ADDR_ZIP", carray.data(), 10), 1);
  const FLDID32 unnamed = Fmkfldid32(FLD_LONG, 777);
  ASSERT_EQ(Fadd32(fbfr_.get(), unnamed, Text(BytesOf(-5L).data()), 0), 1);

  const std::string printed = Print(fbfr_.get());
  const std::string byId = "((FLDID32)" + std::to_string(unnamed) + ")\t-5\n";  // no name
  EXPECT_NE(printed.find("\n" + byId), std::string::npos);
  Fbfr copy(Falloc32(100, 10000));
  ASSERT_EQ(Read(copy.get(), printed), 1) << Fstrerror32(Ferror32);
  EXPECT_EQ(Print(copy.get()), printed);
  EXPECT_EQ(Fnum32(copy.get()), Fnum32(fbfr_.get()));
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  while (Fnext32(fbfr_.get(), &id, &oc, nullptr, nullptr) == 1) {
    FLDLEN32 len = 0;
    FLDLEN32 copyLen = 0;
    const char* original = Ffind32(fbfr_.get(), id, oc, &len);
    const char* readBack = Ffind32(copy.get(), id, oc, &copyLen);
    ASSERT_EQ(std::string(readBack != nullptr ? readBack : "", copyLen), std::string(original, len))
        << Fname32(id) << " " << oc;
  }
}

TEST_F(Fml32Text, FlagsChangeDeleteAndAssign) {
  ASSERT_EQ(Read(fbfr_.get(),
                 "ACC_NAME\tfirst\nACC_NAME\tsecond\nACC_ID\t7\n"
                 "# a comment line\n"
                 "+ACC_NAME\tchanged\n+ ACC_COUNT \t12\n-ACC_ID\tignored\n"
                 "=ADDR_CITY\tACC_NAME\n=ACC_RATE\tACC_COUNT\n"
                 "\nACC_NAME\tafter the end\n"),
            1);
  EXPECT_STREQ(Fvals32(fbfr_.get(), Id("ACC_NAME"), 0), "changed");
  EXPECT_STREQ(Fvals32(fbfr_.get(), Id("ACC_NAME"), 1), "second");
  EXPECT_EQ(Foccur32(fbfr_.get(), Id("ACC_NAME")), 2);
  EXPECT_EQ(Foccur32(fbfr_.get(), Id("ACC_ID")), 0);
  EXPECT_EQ(Fvall32(fbfr_.get(), Id("ACC_COUNT"), 0), 12);
  EXPECT_STREQ(Fvals32(fbfr_.get(), Id("ADDR_CITY"), 0), "changed");
  float rate = 0;
  ASSERT_EQ(Fget32(fbfr_.get(), Id("ACC_RATE"), 0, Raw(rate), nullptr), 1);
  EXPECT_EQ(rate, 12.0f);
}

TEST_F(Fml32Text, BuffersEndAtABlankLineOrTheEndOfTheStreamAndLinesHaveNoLimit) {
  std::string text = "ACC_ID\t1\r\n\r\nACC_ID\t2\nACC_ID\t3";  // CR LF ends lines too
  FILE* in = fmemopen(text.data(), text.size(), "r");
  Fbfr second(Falloc32(10, 100));
  ASSERT_EQ(Fextread32(fbfr_.get(), in), 1);
  ASSERT_EQ(Fextread32(second.get(), in), 1);
  EXPECT_EQ(Fextread32(second.get(), in), 1);  // nothing left
  std::fclose(in);
  EXPECT_EQ(Foccur32(fbfr_.get(), Id("ACC_ID")), 1);
  EXPECT_EQ(Fvall32(second.get(), Id("ACC_ID"), 1), 3);
  EXPECT_EQ(Read(second.get(), "\r\nACC_ID\t4\n"), 1);  // a blank line first: nothing read
  EXPECT_EQ(Foccur32(second.get(), Id("ACC_ID")), 2);
  // Lines longer than any fixed buffer, the last without its end of line.
  Fbfr big(Falloc32(1, 2 << 20));
  ASSERT_EQ(Read(big.get(), "ACC_NOTE\t" + std::string(2 << 20, 'w')), 1);
  EXPECT_EQ(Flen32(big.get(), Id("ACC_NOTE"), 0), 2L << 20);
}

TEST_F(Fml32Text, BadInputIsRefusedAndTheBufferKept) {
  const long keep = 99;
  ASSERT_EQ(Add("ACC_ID", &keep), 1);
  const std::string before = Print(fbfr_.get());
  const struct {
    const char* text;
    int error;
  } cases[] = {
      {"ACC_ID\t5\nACC_ID 6\n", FSYNTAX},  // no tab, after a good line
      {"ACC_ID\t12x\n", FSYNTAX},          {"ACC_ID\t\n", FSYNTAX},
      {"ACC_COUNT\t40000\n", FSYNTAX},     {"ACC_ID\t99999999999999999999\n", FSYNTAX},
      {"ACC_KIND\tab\n", FSYNTAX},         {"ACC_KIND\t\n", FSYNTAX},
      {"ACC_NAME\tbad \\escape\n", FSYNTAX}, {"ACC_NAME\tnul \\00 inside\n", FSYNTAX},
      {"ACC_NOTE\t\\4\n", FSYNTAX},        {"=ACC_NAME\tNOT_A_FIELD\n", FBADNAME},
      {"=ACC_NAME\tADDR_CITY\n", FNOTPRES}, {"-ACC_NAME\t\n", FNOTPRES},
      {"((FLDID32)0)\t1\n", FBADNAME},
  };
  for (const auto& c : cases) {
    Ferror32 = 0;
    ExpectFerror(Read(fbfr_.get(), c.text) == -1, c.error, c.text);
    EXPECT_EQ(Print(fbfr_.get()), before) << c.text;
  }
  // FNOSPACE after a first line that fitted: all or nothing too.
  Fbfr small(Falloc32(2, 20));
  ASSERT_EQ(Read(small.get(), "ACC_NAME\tfits\n"), 1);
  const std::string smallBefore = Print(small.get());
  const std::string tooLong = "ACC_NAME\tx\nACC_NAME\t" + std::string(200, 'y') + "\n";
  ExpectFerror(Read(small.get(), tooLong) == -1, FNOSPACE, "too long");
  EXPECT_EQ(Print(small.get()), smallBefore);
}

}  // namespace
