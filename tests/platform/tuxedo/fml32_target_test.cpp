// Views as IBM/370 COBOL records: the exact bytes of each member type, the
// way back, the translation tables and the errors.
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace {

namespace fs = std::filesystem;

char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}

// The structure of view "rec" below, as a C compiler lays it out.
struct Rec {
  float f[2];
  double d;
  long l;
  short C_s;
  short s[2];
  int i;
  char c;
  unsigned short L_name;
  char name[6];
  char raw[3];
};

constexpr long kRecordLength = 8 + 8 + 4 + 4 + 4 + 1 + 6 + 3;

class Records : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("txlib_target_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "rec.v") << "VIEW rec\n"
                                     "float  f    - 2 -  - -\n"
                                     "double d    - 1 -  - -\n"
                                     "long   l    - 1 -  - -\n"
                                     "short  s    - 2 C  - -\n"
                                     "int    i    - 1 -  - -\n"
                                     "char   c    - 1 -  - -\n"
                                     "string name - 1 L  6 -\n"
                                     "carray raw  - 1 -  3 -\n"
                                     "END\n";
    setenv("VIEWDIR32", dir_.c_str(), 1);
    setenv("VIEWFILES32", "rec.v", 1);
    Fvrefresh32();
  }
  void TearDown() override {
    Fcodeset(nullptr);
    Fvrefresh32();
    fs::remove_all(dir_);
  }

  static Rec Sample() {
    Rec rec{};
    rec.f[0] = 1.0F;
    rec.f[1] = -118.625F;
    rec.d = 1.0;
    rec.l = -2;
    rec.s[0] = 0x1234;
    rec.s[1] = -1;
    rec.i = 0x01020304;
    rec.c = '0';
    std::strcpy(rec.name, "ABC");
    std::memcpy(rec.raw, "\x00\xFF\x7F", 3);
    return rec;
  }

  fs::path dir_;
};

// The record of one structure, as hex bytes.
std::string RecordOf(Rec rec) {
  std::array<unsigned char, kRecordLength> record{};
  EXPECT_EQ(Fvstot32(Raw(rec), reinterpret_cast<char*>(record.data()), kRecordLength, Text("rec")),
            kRecordLength);
  std::string hex;
  for (const unsigned char byte : record)
    hex += (hex.empty() ? "" : " ") +
           std::string{"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 0xF]};
  return hex;
}

TEST_F(Records, EveryMemberTypeHasItsMainframeBytes) {
  ASSERT_EQ(Fvneeded32(Text("rec")), static_cast<long>(sizeof(Rec)));
  EXPECT_EQ(RecordOf(Sample()),
            "41 10 00 00 C2 76 A0 00 "  // COMP-1 1.0, -118.625
            "41 10 00 00 00 00 00 00 "  // COMP-2 1.0
            "FF FF FF FE "              // S9(9) COMP -2
            "12 34 FF FF "              // S9(4) COMP 0x1234, -1
            "01 02 03 04 "              // int
            "F0 "                       // '0'
            "C1 C2 C3 40 40 40 "        // "ABC", blank-padded
            "00 FF 7F");                // carray as it is

  Rec zeros{};  // 0.0 is all zero bits; an empty text is all blanks
  std::string numbers;
  for (int i = 0; i < 28; ++i) numbers += "00 ";
  EXPECT_EQ(RecordOf(zeros), numbers + "00 40 40 40 40 40 40 00 00 00");

  Rec small = Sample();
  small.f[0] = 0.1F;  // 0x1999999A... rounded to 24 bits of fraction
  small.d = -0.1;
  small.l = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(RecordOf(small).substr(0, 3 * 20 - 1),
            "40 19 99 9A C2 76 A0 00 C0 19 99 99 99 99 99 9A 80 00 00 00");
}

TEST_F(Records, RecordComesBackAsTheSameStructure) {
  Rec original = Sample();
  original.f[0] = 3.14159F;  // three leading zero bits in its first hex digit
  original.d = -6.02214076e23;
  original.l = 2147483647;
  std::array<char, kRecordLength> record{};
  ASSERT_EQ(Fvstot32(Raw(original), record.data(), kRecordLength, Text("rec")), kRecordLength);
  Rec back;
  std::memset(&back, 0x5A, sizeof back);
  ASSERT_EQ(Fvttos32(Raw(back), record.data(), Text("rec")), kRecordLength);
  EXPECT_EQ(RecordOf(back), RecordOf(original));
  EXPECT_EQ(std::string(back.name, sizeof back.name), std::string("ABC\0\0\0", 6));
  EXPECT_EQ(back.C_s, 2);     // a record holds every element
  EXPECT_EQ(back.L_name, 4);  // "ABC" and its zero byte

  // The largest COMP-2 survives its rounding to a double.
  std::memcpy(record.data() + 8, "\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);
  ASSERT_EQ(Fvttos32(Raw(back), record.data(), Text("rec")), kRecordLength);
  EXPECT_EQ(RecordOf(back).substr(3 * 8, 3 * 8 - 1), "7F FF FF FF FF FF FF FF");

  // EBCDIC text read back; one too long for the member is cut.
  record[28] = '\x81';
  std::memcpy(record.data() + 29, "\xC8\x89\x5A\xF9\xF9\xF9", 6);
  ASSERT_EQ(Fvttos32(Raw(back), record.data(), Text("rec")), kRecordLength);
  EXPECT_EQ(back.c, 'a');
  EXPECT_EQ(std::string(back.name, sizeof back.name), std::string("Hi!99\0", 6));
  EXPECT_EQ(back.L_name, 6);
}

TEST_F(Records, CodesetReplacesTheTablesUntilReset) {
  // Identity one way, everything to '?' the other.
  std::array<char, 512> table{};
  for (int i = 0; i < 256; ++i) table[static_cast<std::size_t>(i)] = static_cast<char>(i);
  std::memset(table.data() + 256, '?', 256);
  ASSERT_EQ(Fcodeset(table.data()), 0);
  EXPECT_EQ(RecordOf(Sample()).substr(3 * 28, 3 * 7 - 1), "30 41 42 43 20 20 20");

  std::array<char, kRecordLength> record{};
  Rec rec{};
  ASSERT_EQ(Fvttos32(Raw(rec), record.data(), Text("rec")), kRecordLength);
  EXPECT_EQ(rec.c, '?');
  EXPECT_STREQ(rec.name, "?????");

  ASSERT_EQ(Fcodeset(nullptr), 0);
  EXPECT_EQ(RecordOf(Sample()).substr(3 * 28, 3 * 7 - 1), "F0 C1 C2 C3 40 40 40");
}

TEST_F(Records, FailuresLeaveRecordAndStructureAlone) {
  Rec rec = Sample();
  std::array<char, kRecordLength> record;
  record.fill('#');
  const auto untouched = record;
  const auto expectFerror = [](int result, int error) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Ferror32, error);
    Ferror32 = 0;
  };

  expectFerror(Fvstot32(Raw(rec), record.data(), kRecordLength, Text("nosuch")), FBADVIEW);
  expectFerror(Fvttos32(Raw(rec), record.data(), nullptr), FBADVIEW);
  expectFerror(Fvstot32(Raw(rec), record.data(), kRecordLength - 1, Text("rec")), FNOSPACE);
  expectFerror(Fvstot32(nullptr, record.data(), kRecordLength, Text("rec")), FEINVAL);
  expectFerror(Fvttos32(Raw(rec), nullptr, Text("rec")), FEINVAL);

  rec.l = 1L << 40;  // beyond S9(9) COMP
  expectFerror(Fvstot32(Raw(rec), record.data(), kRecordLength, Text("rec")), FEINVAL);
  rec = Sample();
  rec.d = 1e300;  // beyond COMP-2
  expectFerror(Fvstot32(Raw(rec), record.data(), kRecordLength, Text("rec")), FEINVAL);
  rec.d = std::numeric_limits<double>::quiet_NaN();
  expectFerror(Fvstot32(Raw(rec), record.data(), kRecordLength, Text("rec")), FEINVAL);
  EXPECT_EQ(record, untouched);

  // COMP-1 16^60 is no float.
  rec = Sample();
  std::array<char, sizeof(Rec)> before;
  std::memcpy(before.data(), &rec, sizeof rec);
  record.fill(0);
  record[0] = 0x7C;
  record[1] = 0x10;
  expectFerror(Fvttos32(Raw(rec), record.data(), Text("rec")), FEINVAL);
  EXPECT_EQ(std::memcmp(&rec, before.data(), sizeof rec), 0);

  // Too small for COMP-2 is zero, not an error.
  rec.d = 1e-300;
  EXPECT_EQ(RecordOf(rec).substr(3 * 8, 3 * 8 - 1), "00 00 00 00 00 00 00 00");
}

}  // namespace
