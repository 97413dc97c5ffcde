// Typed buffers of the builtin ATMI: sizes, types, resizing, and refusal of
// pointers that no tpalloc returned.

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kText = Fmkfldid32(FLD_STRING, 1002);

class AtmiBuffers : public ::testing::Test {
 protected:
  Atmi::ScopedDomain domain_;
};

// tprealloc that keeps `buffer` owning the result; false when it failed.
bool Resize(TpBuffer& buffer, long size) {
  char* resized = tprealloc(buffer.get(), size);
  if (resized != nullptr) buffer.release(), buffer.reset(resized);
  return resized != nullptr;
}

TEST_F(AtmiBuffers, EachTypeAppliesItsSizeRules) {
  const struct {
    const char* type;
    long asked, given;
  } cases[] = {
      {"FML32", 0, 1024},     {"FML32", 1023, 1024},  {"FML32", 1024, 1024},
      {"FML32", 1031, 1031},  {"FML32", 65536, 65536}, {"STRING", 0, 512},
      {"STRING", 511, 512},   {"STRING", 600, 600},   {"CARRAY", 1, 1},
      {"X_OCTET", 10, 10},    {"TPINIT", 0, sizeof(TPINIT)},
      {"TPINIT", TPINITNEED(100), sizeof(TPINIT) - sizeof(long) + 100},
  };
  for (const auto& c : cases) {
    TpBuffer buffer(c.type, c.asked);
    char type[9] = {};
    char subtype[17] = "garbage";
    EXPECT_EQ(tptypes(buffer.get(), type, subtype), c.given) << c.type << " " << c.asked;
    EXPECT_STREQ(type, c.type);
    EXPECT_STREQ(subtype, "");
    if (std::string(c.type) == "FML32") {
      EXPECT_EQ(Fsizeof32(buffer.fbfr()), c.given);
      EXPECT_EQ(Fused32(buffer.fbfr()), Fneeded32(0, 0));
    }
  }
  for (const char* type : {"FML", "VIEW32", "", "STRINGXYZ"}) {
    ExpectTperrno(tpalloc(Text(type), nullptr, 100), TPENOENT, type);
  }
  ExpectTperrno(tpalloc(nullptr, nullptr, 100), TPEINVAL, "no type");
  ExpectTperrno(tpalloc(Text("FML32"), nullptr, -1), TPEINVAL, "size -1");
  ExpectTperrno(tpalloc(Text("STRING"), nullptr, 2147483648L), TPEINVAL, "2 GB");
  ExpectTperrno(tpalloc(Text("CARRAY"), nullptr, 0), TPEINVAL, "CARRAY 0");
}

TEST_F(AtmiBuffers, ResizingKeepsTheContentsOrFailsWithoutHarm) {
  TpBuffer buffer("FML32", 1024);
  ASSERT_EQ(Fadd32(buffer.fbfr(), kText, Text("Kowalski"), 0), 1);
  ASSERT_TRUE(Resize(buffer, 8192));
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 8192);
  EXPECT_STREQ(Fvals32(buffer.fbfr(), kText, 0), "Kowalski");
  ASSERT_TRUE(Resize(buffer, 0));
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 1024);
  EXPECT_STREQ(Fvals32(buffer.fbfr(), kText, 0), "Kowalski");
  // Shrinking below the contents.
  const std::string text(3000, 'x');
  ASSERT_TRUE(Resize(buffer, 8192));
  ASSERT_EQ(Fchg32(buffer.fbfr(), kText, 0, Text(text.c_str()), 0), 1);
  Ferror32 = FNOTPRES;
  EXPECT_FALSE(Resize(buffer, 2048));
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(Ferror32, FNOTPRES);  // the caller's FML32 state is not ours to change
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 8192);
  EXPECT_EQ(Fvals32(buffer.fbfr(), kText, 0), text);

  TpBuffer bytes("CARRAY", 4);
  std::memcpy(bytes.get(), "\x01\x00\x02\x03", 4);
  ASSERT_TRUE(Resize(bytes, 6));
  EXPECT_EQ(std::string(bytes.get(), 4), std::string("\x01\x00\x02\x03", 4));
  EXPECT_FALSE(Resize(bytes, 0));  // the minimum sizes of tpalloc
  EXPECT_EQ(tperrno, TPEINVAL);
  // An injected failure, after one allocation that succeeds.
  Atmi::FailNextAllocation(TPESYSTEM, 1);
  TpBuffer text2("STRING", 0);
  std::strcpy(text2.get(), "kept");
  EXPECT_FALSE(Resize(text2, 4096));
  EXPECT_EQ(tperrno, TPESYSTEM);
  EXPECT_STREQ(text2.get(), "kept");
  Atmi::FailNextAllocation(TPEOS);
  ExpectTperrno(tpalloc(Text("FML32"), nullptr, 0), TPEOS, "no memory");
  EXPECT_TRUE(TpBuffer("FML32", 0));  // once only
}

TEST_F(AtmiBuffers, ForeignPointersAreRefusedWithoutHarm) {
  char onStack[64] = {};
  void* fromMalloc = std::malloc(64);
  TpBuffer real("STRING", 0);
  std::strcpy(real.get(), "survives");
  char* freed = tpalloc(Text("STRING"), nullptr, 0);
  tpfree(freed);
  for (char* foreign : {onStack, static_cast<char*>(fromMalloc), real.get() + 8, freed}) {
    ExpectTperrno(tptypes(foreign, nullptr, nullptr), TPEINVAL, "tptypes");
    ExpectTperrno(tprealloc(foreign, 4096), TPEINVAL, "tprealloc");
    tpfree(foreign);
    EXPECT_EQ(tperrno, TPEINVAL);
  }
  std::free(fromMalloc);
  tperrno = 0;
  tpfree(nullptr);
  EXPECT_EQ(tperrno, 0);
  EXPECT_STREQ(real.get(), "survives");
}

}  // namespace
