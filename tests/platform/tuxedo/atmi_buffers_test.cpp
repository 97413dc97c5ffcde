// Typed buffers of the builtin ATMI: sizes, types, resizing, and refusal of
// pointers that no tpalloc returned.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace {

using Tx::AtmiBuiltin::TpBuffer;

class AtmiBuffers : public ::testing::Test {
 protected:
  Tx::AtmiBuiltin::ScopedDomain domain_;
};

std::string TypeOf(char* buffer, long* size = nullptr) {
  char type[9] = {};
  char subtype[17] = "garbage";
  const long result = tptypes(buffer, type, subtype);
  if (size != nullptr) *size = result;
  EXPECT_EQ(subtype[0], '\0');
  return type;
}

FLDID32 LongField() { return Fmkfldid32(FLD_LONG, 1001); }
FLDID32 TextField() { return Fmkfldid32(FLD_STRING, 1002); }

TEST_F(AtmiBuffers, Fml32BufferHasExactlyTheRequestedSizeFromTheMinimumUp) {
  for (const long size : {1024L, 1025L, 1031L, 4096L, 65536L}) {
    TpBuffer buffer("FML32", size);
    ASSERT_TRUE(buffer) << size;
    EXPECT_EQ(Fsizeof32(buffer.fbfr()), size);
    long reported = 0;
    EXPECT_EQ(TypeOf(buffer.get(), &reported), "FML32");
    EXPECT_EQ(reported, size);
    EXPECT_EQ(Fnum32(buffer.fbfr()), 0);
    EXPECT_EQ(Fused32(buffer.fbfr()), Fneeded32(0, 0));
  }
}

TEST_F(AtmiBuffers, SmallFml32RequestsGetTheDefaultSize) {
  for (const long size : {0L, 1L, 32L, 1023L}) {
    TpBuffer buffer("FML32", size);
    ASSERT_TRUE(buffer) << size;
    EXPECT_EQ(Fsizeof32(buffer.fbfr()), Tx::AtmiBuiltin::kFml32MinimumSize);
  }
}

TEST_F(AtmiBuffers, SimpleTypesApplyTheirOwnSizeRules) {
  long size = 0;
  TpBuffer text("STRING", 0);
  EXPECT_EQ(TypeOf(text.get(), &size), "STRING");
  EXPECT_EQ(size, 512);
  TpBuffer longText("STRING", 600);
  EXPECT_EQ(TypeOf(longText.get(), &size), "STRING");
  EXPECT_EQ(size, 600);
  TpBuffer bytes("CARRAY", 3);
  EXPECT_EQ(TypeOf(bytes.get(), &size), "CARRAY");
  EXPECT_EQ(size, 3);
  EXPECT_EQ(std::vector<char>(bytes.get(), bytes.get() + 3), std::vector<char>(3, '\0'));
  TpBuffer octets("X_OCTET", 10);
  EXPECT_EQ(TypeOf(octets.get(), &size), "X_OCTET");
  EXPECT_EQ(size, 10);
}

TEST_F(AtmiBuffers, TpinitBufferHoldsItsApplicationData) {
  TpBuffer init("TPINIT", TPINITNEED(100));
  ASSERT_TRUE(init);
  long size = 0;
  EXPECT_EQ(TypeOf(init.get(), &size), "TPINIT");
  EXPECT_EQ(size, static_cast<long>(sizeof(TPINIT) - sizeof(long) + 100));
  TpBuffer small("TPINIT", 0);
  EXPECT_EQ(tptypes(small.get(), nullptr, nullptr), static_cast<long>(sizeof(TPINIT)));
}

TEST_F(AtmiBuffers, UnknownTypesAreNoEntryAndBadArgumentsInvalid) {
  for (const char* type : {"FML", "VIEW32", "XML", "", "STRINGXYZ"}) {
    tperrno = 0;
    EXPECT_EQ(tpalloc(const_cast<char*>(type), nullptr, 100), nullptr) << type;
    EXPECT_EQ(tperrno, TPENOENT) << type;
  }
  tperrno = 0;
  EXPECT_EQ(tpalloc(nullptr, nullptr, 100), nullptr);
  EXPECT_EQ(tperrno, TPEINVAL);
  tperrno = 0;
  EXPECT_EQ(tpalloc(const_cast<char*>("FML32"), nullptr, -1), nullptr);
  EXPECT_EQ(tperrno, TPEINVAL);
  tperrno = 0;
  EXPECT_EQ(tpalloc(const_cast<char*>("STRING"), nullptr, 2147483648L), nullptr);
  EXPECT_EQ(tperrno, TPEINVAL);
  tperrno = 0;
  EXPECT_EQ(tpalloc(const_cast<char*>("CARRAY"), nullptr, 0), nullptr);  // needs a size
  EXPECT_EQ(tperrno, TPEINVAL);
}

TEST_F(AtmiBuffers, GrowingAnFml32BufferKeepsItsFields) {
  TpBuffer buffer("FML32", 1024);
  long value = 7;
  ASSERT_NE(Fadd32(buffer.fbfr(), LongField(), reinterpret_cast<char*>(&value), 0), -1);
  ASSERT_NE(Fadd32(buffer.fbfr(), TextField(), const_cast<char*>("Kowalski"), 0), -1);
  const long used = Fused32(buffer.fbfr());

  char* grown = tprealloc(buffer.get(), 8192);
  ASSERT_NE(grown, nullptr);
  buffer.release();
  buffer.reset(grown);
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 8192);
  EXPECT_EQ(Fused32(buffer.fbfr()), used);
  EXPECT_EQ(Fvall32(buffer.fbfr(), LongField(), 0), 7);
  EXPECT_STREQ(Fvals32(buffer.fbfr(), TextField(), 0), "Kowalski");
  EXPECT_EQ(tptypes(buffer.get(), nullptr, nullptr), 8192);

  char* shrunk = tprealloc(buffer.get(), 0);
  ASSERT_NE(shrunk, nullptr);
  buffer.release();
  buffer.reset(shrunk);
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 1024);
  EXPECT_STREQ(Fvals32(buffer.fbfr(), TextField(), 0), "Kowalski");
}

TEST_F(AtmiBuffers, ShrinkingBelowTheContentsFailsAndKeepsTheBuffer) {
  TpBuffer buffer("FML32", 8192);
  const std::string text(3000, 'x');
  ASSERT_NE(Fadd32(buffer.fbfr(), TextField(), const_cast<char*>(text.c_str()), 0), -1);
  const long used = Fused32(buffer.fbfr());
  Ferror32 = FNOTPRES;
  tperrno = 0;
  EXPECT_EQ(tprealloc(buffer.get(), 2048), nullptr);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(Ferror32, FNOTPRES);  // the caller's FML32 state is not ours to change
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 8192);
  EXPECT_EQ(Fused32(buffer.fbfr()), used);
  EXPECT_EQ(Fvals32(buffer.fbfr(), TextField(), 0), text);
}

TEST_F(AtmiBuffers, ResizingSimpleBuffersKeepsTheirBytes) {
  TpBuffer text("STRING", 0);
  std::strcpy(text.get(), "Zażółć");
  char* grown = tprealloc(text.get(), 2000);
  ASSERT_NE(grown, nullptr);
  text.release();
  text.reset(grown);
  EXPECT_STREQ(text.get(), "Zażółć");
  EXPECT_EQ(tptypes(text.get(), nullptr, nullptr), 2000);

  TpBuffer bytes("CARRAY", 4);
  std::memcpy(bytes.get(), "\x01\x00\x02\x03", 4);
  char* longer = tprealloc(bytes.get(), 6);
  ASSERT_NE(longer, nullptr);
  bytes.release();
  bytes.reset(longer);
  EXPECT_EQ(std::string(bytes.get(), 6), std::string("\x01\x00\x02\x03\x00\x00", 6));
  tperrno = 0;
  EXPECT_EQ(tprealloc(bytes.get(), 0), nullptr);
  EXPECT_EQ(tperrno, TPEINVAL);
}

TEST_F(AtmiBuffers, ForeignPointersAreRefusedWithoutHarm) {
  char onStack[64] = {};
  void* fromMalloc = std::malloc(64);
  TpBuffer real("FML32", 0);
  for (char* foreign : {onStack, static_cast<char*>(fromMalloc), real.get() + 8}) {
    tperrno = 0;
    EXPECT_EQ(tptypes(foreign, nullptr, nullptr), -1);
    EXPECT_EQ(tperrno, TPEINVAL);
    tperrno = 0;
    EXPECT_EQ(tprealloc(foreign, 4096), nullptr);
    EXPECT_EQ(tperrno, TPEINVAL);
    tperrno = 0;
    tpfree(foreign);
    EXPECT_EQ(tperrno, TPEINVAL);
  }
  std::free(fromMalloc);
  EXPECT_EQ(Fsizeof32(real.fbfr()), 1024);  // the real buffer is untouched
}

TEST_F(AtmiBuffers, FreeingTwiceIsRefusedAndNullIsIgnored) {
  char* buffer = tpalloc(const_cast<char*>("STRING"), nullptr, 0);
  tpfree(buffer);
  tperrno = 0;
  tpfree(buffer);
  EXPECT_EQ(tperrno, TPEINVAL);
  tperrno = 0;
  tpfree(nullptr);
  EXPECT_EQ(tperrno, 0);
}

TEST_F(AtmiBuffers, InjectedAllocationFailuresHitOnceAndInOrder) {
  Tx::AtmiBuiltin::FailNextAllocation(TPEOS);
  tperrno = 0;
  EXPECT_EQ(tpalloc(const_cast<char*>("FML32"), nullptr, 0), nullptr);
  EXPECT_EQ(tperrno, TPEOS);
  EXPECT_TRUE(TpBuffer("FML32", 0));

  Tx::AtmiBuiltin::FailNextAllocation(TPESYSTEM, 1);
  TpBuffer first("STRING", 0);
  EXPECT_TRUE(first);
  std::strcpy(first.get(), "kept");
  tperrno = 0;
  EXPECT_EQ(tprealloc(first.get(), 4096), nullptr);
  EXPECT_EQ(tperrno, TPESYSTEM);
  EXPECT_STREQ(first.get(), "kept");
}

TEST_F(AtmiBuffers, BuffersNeedNoSessionAndOutliveADomainReset) {
  TpBuffer buffer("STRING", 0);
  std::strcpy(buffer.get(), "survives");
  Tx::AtmiBuiltin::ResetDomain();
  EXPECT_EQ(TypeOf(buffer.get()), "STRING");
  EXPECT_STREQ(buffer.get(), "survives");
}

}  // namespace
