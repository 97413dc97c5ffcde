// The text form of FML32 buffers: Ffprint32 output and Fextread32 input.
#include <fml32.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}

std::string TableDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/fml32";
}

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
int Read(FBFR32* fbfr, const std::string& text) {
  std::string copy = text;
  FILE* in = fmemopen(copy.data(), copy.size(), "r");
  if (copy.empty()) in = std::fopen("/dev/null", "r");
  const int result = Fextread32(fbfr, in);
  std::fclose(in);
  return result;
}

class Fml32Text : public ::testing::Test {
 protected:
  void SetUp() override {
    Fnmid_unload32();
    Fidnm_unload32();
    setenv("FLDTBLDIR32", TableDir().c_str(), 1);
    setenv("FIELDTBLS32", "accounts.tbl,extra.tbl", 1);
  }
  void TearDown() override {
    Fnmid_unload32();
    Fidnm_unload32();
  }
  static FLDID32 Id(const char* name) { return Fldid32(Text(name)); }
  Fbfr fbfr_{Falloc32(100, 10000)};
};

TEST_F(Fml32Text, PrintsNamesTabsValuesAndABlankLine) {
  long id = 1001;
  double balance = 1250.5;
  char kind = 'P';
  short count = -3;
  float rate = 0.25f;
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_ID"), Raw(id), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NAME"), Text("Kowalski Jan"), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_BALANCE"), Raw(balance), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_KIND"), &kind, 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NOTE"), Text("a\tb\\c\x01\xe9"), 7), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_COUNT"), Raw(count), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_RATE"), Raw(rate), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NAME"), Text("Nowak Anna"), 0), 1);
  EXPECT_EQ(Print(fbfr_.get()),
            "ACC_COUNT\t-3\n"
            "ACC_ID\t1001\n"
            "ACC_KIND\tP\n"
            "ACC_RATE\t0.25\n"
            "ACC_BALANCE\t1250.5\n"
            "ACC_NAME\tKowalski Jan\n"
            "ACC_NAME\tNowak Anna\n"
            "ACC_NOTE\ta\\09b\\\\c\\01\\e9\n"
            "\n");
}

TEST_F(Fml32Text, FieldsWithoutNamesArePrintedByTheirId) {
  const FLDID32 unnamed = Fmkfldid32(FLD_LONG, 777);
  long value = 5;
  ASSERT_EQ(Fadd32(fbfr_.get(), unnamed, Raw(value), 0), 1);
  EXPECT_EQ(Print(fbfr_.get()), "((FLDID32)" + std::to_string(unnamed) + ")\t5\n\n");
  // Also without any field table.
  setenv("FIELDTBLS32", "missing.tbl", 1);
  Fidnm_unload32();
  Ferror32 = 0;
  EXPECT_EQ(Print(fbfr_.get()), "((FLDID32)" + std::to_string(unnamed) + ")\t5\n\n");
  EXPECT_EQ(Ferror32, 0);
  Fbfr copy(Falloc32(10, 100));
  ASSERT_EQ(Read(copy.get(), Print(fbfr_.get())), 1);
  EXPECT_EQ(Fvall32(copy.get(), unnamed, 0), 5);
  // A plain id is read as well.
  ASSERT_EQ(Read(copy.get(), std::to_string(unnamed) + "\t6\n"), 1);
  EXPECT_EQ(Fvall32(copy.get(), unnamed, 1), 6);
}

TEST_F(Fml32Text, EmptyBufferIsABlankLine) { EXPECT_EQ(Print(fbfr_.get()), "\n"); }

TEST_F(Fml32Text, AllTypesRoundTripWithUnprintableBytes) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  std::string carray = everyByte + std::string(1, '\0') + "\\\\\\";
  const short shorts[] = {0, -32768, 32767};
  const long longs[] = {0, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()};
  const float floats[] = {0.0f, -1.5f, 3.4028235e38f, 1.17549435e-38f, 0.1f, std::numeric_limits<float>::infinity()};
  const double doubles[] = {0.0, -0.0, 0.1, 1.0 / 3.0, 1e-300, 1.7976931348623157e308, 5e-324,
                            -std::numeric_limits<double>::infinity()};
  for (short s : shorts) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_COUNT"), Raw(s), 0), 1);
  for (long l : longs) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_ID"), Raw(l), 0), 1);
  for (float f : floats) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_RATE"), Raw(f), 0), 1);
  for (double d : doubles) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_BALANCE"), Raw(d), 0), 1);
  for (char c : {'\0', '\n', '\\', '\t', 'z', '\xff', ' '}) ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_KIND"), &c, 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NAME"), Text(everyByte.c_str()), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NAME"), Text(""), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NAME"), Text(" leading and trailing "), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NOTE"), carray.data(), static_cast<FLDLEN32>(carray.size())), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_NOTE"), carray.data(), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ADDR_ZIP"), carray.data(), 10), 1);

  const std::string printed = Print(fbfr_.get());
  Fbfr copy(Falloc32(100, 10000));
  ASSERT_EQ(Read(copy.get(), printed), 1) << Fstrerror32(Ferror32);
  EXPECT_EQ(Print(copy.get()), printed);
  ASSERT_EQ(Fused32(copy.get()), Fused32(fbfr_.get()));
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  int compared = 0;
  while (Fnext32(fbfr_.get(), &id, &oc, nullptr, nullptr) == 1) {
    FLDLEN32 len = 0;
    FLDLEN32 copyLen = 0;
    const char* original = Ffind32(fbfr_.get(), id, oc, &len);
    const char* readBack = Ffind32(copy.get(), id, oc, &copyLen);
    ASSERT_NE(readBack, nullptr) << Fname32(id) << " " << oc;
    ASSERT_EQ(copyLen, len);
    EXPECT_EQ(std::memcmp(original, readBack, len), 0) << Fname32(id) << " " << oc;
    ++compared;
  }
  EXPECT_EQ(compared, Fnum32(fbfr_.get()));
}

TEST_F(Fml32Text, NotANumberRoundTrips) {
  double nan = std::nan("");
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_BALANCE"), Raw(nan), 0), 1);
  Fbfr copy(Falloc32(10, 100));
  ASSERT_EQ(Read(copy.get(), Print(fbfr_.get())), 1);
  double back = 0;
  ASSERT_EQ(Fget32(copy.get(), Id("ACC_BALANCE"), 0, Raw(back), nullptr), 1);
  EXPECT_TRUE(std::isnan(back));
}

TEST_F(Fml32Text, FlagsChangeDeleteAndAssign) {
  ASSERT_EQ(Read(fbfr_.get(),
                 "ACC_NAME\tfirst\n"
                 "ACC_NAME\tsecond\n"
                 "ACC_ID\t7\n"
                 "# a comment line\n"
                 "+ACC_NAME\tchanged\n"
                 "+ ACC_COUNT \t12\n"
                 "-ACC_ID\tignored\n"
                 "=ADDR_CITY\tACC_NAME\n"
                 "=ACC_RATE\tACC_COUNT\n"
                 "\n"
                 "ACC_NAME\tafter the end\n"),
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

TEST_F(Fml32Text, ReadsUntilTheEndWithoutABlankLine) {
  ASSERT_EQ(Read(fbfr_.get(), "ACC_ID\t1\r\nACC_ID\t2"), 1);
  EXPECT_EQ(Foccur32(fbfr_.get(), Id("ACC_ID")), 2);
  EXPECT_EQ(Fvall32(fbfr_.get(), Id("ACC_ID"), 0), 1);
  EXPECT_EQ(Fvall32(fbfr_.get(), Id("ACC_ID"), 1), 2);
  EXPECT_EQ(Read(fbfr_.get(), ""), 1);
  EXPECT_EQ(Read(fbfr_.get(), "\r\nACC_ID\t3\n"), 1);  // a blank line first: nothing read
  EXPECT_EQ(Foccur32(fbfr_.get(), Id("ACC_ID")), 2);
}

TEST_F(Fml32Text, ConsecutiveBuffersInOneStream) {
  std::string text = "ACC_ID\t1\n\nACC_ID\t2\nACC_ID\t3\n\n";
  FILE* in = fmemopen(text.data(), text.size(), "r");
  Fbfr first(Falloc32(10, 100));
  Fbfr second(Falloc32(10, 100));
  ASSERT_EQ(Fextread32(first.get(), in), 1);
  ASSERT_EQ(Fextread32(second.get(), in), 1);
  std::fclose(in);
  EXPECT_EQ(Foccur32(first.get(), Id("ACC_ID")), 1);
  EXPECT_EQ(Foccur32(second.get(), Id("ACC_ID")), 2);
}

TEST_F(Fml32Text, BadInputIsRefusedAndTheBufferKept) {
  long keep = 99;
  ASSERT_EQ(Fadd32(fbfr_.get(), Id("ACC_ID"), Raw(keep), 0), 1);
  const std::string before = Print(fbfr_.get());
  struct Case {
    const char* text;
    int error;
  };
  const Case cases[] = {
      {"ACC_ID\t5\nACC_ID 6\n", FSYNTAX},           // no tab
      {"ACC_ID\t5\nNOT_A_FIELD\t6\n", FBADNAME},    // unknown name
      {"ACC_ID\t12x\n", FSYNTAX},                   // not a number
      {"ACC_ID\t\n", FSYNTAX},                      // empty number
      {"ACC_COUNT\t40000\n", FSYNTAX},              // short out of range
      {"ACC_ID\t99999999999999999999\n", FSYNTAX},  // long out of range
      {"ACC_BALANCE\t1.5.5\n", FSYNTAX},
      {"ACC_KIND\tab\n", FSYNTAX},                  // char of two bytes
      {"ACC_KIND\t\n", FSYNTAX},
      {"ACC_NAME\tbad \\escape\n", FSYNTAX},
      {"ACC_NAME\ttrailing \\\n", FSYNTAX},
      {"ACC_NAME\tnul \\00 inside\n", FSYNTAX},
      {"ACC_NOTE\t\\4\n", FSYNTAX},
      {"=ACC_NAME\tNOT_A_FIELD\n", FBADNAME},
      {"=ACC_NAME\tADDR_CITY\n", FNOTPRES},         // source absent
      {"-ACC_NAME\t\n", FNOTPRES},
      {"((FLDID32)0)\t1\n", FBADNAME},
      {"((FLDID32)12x)\t1\n", FBADNAME},
  };
  for (const Case& c : cases) {
    Ferror32 = 0;
    EXPECT_EQ(Read(fbfr_.get(), c.text), -1) << c.text;
    EXPECT_EQ(Ferror32, c.error) << c.text;
    EXPECT_EQ(Print(fbfr_.get()), before) << c.text;
  }
}

TEST_F(Fml32Text, NoSpaceLeavesTheBufferAsItWas) {
  Fbfr small(Falloc32(2, 20));
  ASSERT_EQ(Read(small.get(), "ACC_NAME\tfits\n"), 1);
  const std::string before = Print(small.get());
  Ferror32 = 0;
  EXPECT_EQ(Read(small.get(), "ACC_NAME\tx\nACC_NAME\t" + std::string(200, 'y') + "\n"), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(Print(small.get()), before);
}

TEST_F(Fml32Text, VeryLongLines) {
  Fbfr big(Falloc32(2, 3 << 20));
  const std::string value(1 << 20, 'q');
  ASSERT_EQ(Read(big.get(), "ACC_NAME\t" + value + "\nACC_NOTE\t" + std::string(2 << 20, 'w') + "\n\n"), 1);
  EXPECT_EQ(Flen32(big.get(), Id("ACC_NAME"), 0), static_cast<long>(value.size() + 1));
  EXPECT_EQ(Flen32(big.get(), Id("ACC_NOTE"), 0), 2L << 20);
  Fbfr small(Falloc32(1, 100));
  Ferror32 = 0;
  EXPECT_EQ(Read(small.get(), "ACC_NAME\t" + value + "\n"), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
}

}  // namespace
