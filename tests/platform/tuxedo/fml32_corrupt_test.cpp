// Damaged and foreign FML32 blocks: every function refuses them instead of
// reading or writing outside the block.
#include <algorithm>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 310);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 311);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 314);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 315);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 316);

// A buffer with every type, several occurrences and a deleted value.
Fbfr SampleBuffer() {
  Fbfr fbfr(Falloc32(20, 300));
  const char* values[] = {"7", "first", "-70000", "second value", "c", "1.25", "\x01\x02", "2.5",
                          "third"};
  const FLDID32 ids[] = {kShort, kString, kLong, kString, Fmkfldid32(FLD_CHAR, 312),
                         Fmkfldid32(FLD_FLOAT, 313), kCarray, kDouble, kString};
  for (int i = 0; i < 9; ++i) CFadd32(fbfr.get(), ids[i], Text(values[i]), 0, FLD_STRING);
  Fdel32(fbfr.get(), kString, 1);
  return fbfr;
}

// Runs every reading function over an accepted block and a few changes;
// whatever fails must fail with an error number, never crash or overrun.
void Exercise(FBFR32* fbfr) {
  auto check = [](bool ok, const char* what) {
    const bool allowed = Ferror32 == FNOTFLD || Ferror32 == FNOTPRES || Ferror32 == FNOSPACE ||
                         Ferror32 == FTYPERR;
    EXPECT_TRUE(ok || allowed) << what << " gave " << Ferror32;
  };
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  std::vector<char> value(4096);
  FLDLEN32 len = static_cast<FLDLEN32>(value.size());
  int steps = 0;
  while (Fnext32(fbfr, &id, &oc, value.data(), &len) == 1 && ++steps < 1000) {
    len = static_cast<FLDLEN32>(value.size());
    FLDLEN32 found = 0;
    const char* at = Ffind32(fbfr, id, oc, &found);
    check(at != nullptr, "Ffind32");
    check(Flen32(fbfr, id, oc) >= 0, "Flen32");
    FLDLEN32 room = len;
    check(Fget32(fbfr, id, oc, value.data(), &room) == 1, "Fget32");
    if (Fldtype32(id) == FLD_STRING && at != nullptr) {
      EXPECT_LE(std::strlen(Fvals32(fbfr, id, oc)) + 1, found);  // terminated inside the value
    }
    room = len;
    if (Fldtype32(id) <= FLD_CARRAY) {
      check(CFget32(fbfr, id, oc, value.data(), &room, FLD_STRING) == 1, "CFget32");
    }
    check(Ffindlast32(fbfr, id, nullptr, nullptr) != nullptr, "Ffindlast32");
    check(Foccur32(fbfr, id) >= 0, "Foccur32");
  }
  FILE* sink = std::fopen("/dev/null", "w");
  check(Ffprint32(fbfr, sink) == 1, "Ffprint32");
  std::fclose(sink);
  check(Fnum32(fbfr) >= 0, "Fnum32");
  check(Fused32(fbfr) >= 0, "Fused32");
  check(Fchg32(fbfr, kString, 0, Text(std::string(100, 'x').c_str()), 0) == 1, "Fchg32");
  check(Fadd32(fbfr, kCarray, Text("abc"), 3) == 1, "Fadd32");
  check(Fdel32(fbfr, kShort, 0) == 1, "Fdel32");
  check(Fdelall32(fbfr, kDouble) == 1, "Fdelall32");
  long beyond = steps;
  check(Fchg32(fbfr, kLong, 3, Raw(beyond), 0) == 1, "Fchg32 beyond the last");
}

TEST(Fml32Corrupt, ForeignAndOversizedBlocksAreRefused) {
  std::vector<std::uint64_t> memory(64, 0x0123456789abcdefULL);
  auto* fbfr = reinterpret_cast<FBFR32*>(memory.data());
  long l = 1;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  FLDLEN32 len = 8;
  char text[16];
  // Every call must fail with FNOTFLD; a group stops at the first that does not.
  const auto refused = [](bool failed) {
    const bool ok = failed && Ferror32 == FNOTFLD;
    Ferror32 = 0;
    return ok;
  };
  EXPECT_TRUE(refused(Fsizeof32(fbfr) == -1) && refused(Fused32(fbfr) == -1) &&
              refused(Funused32(fbfr) == -1) && refused(Fnum32(fbfr) == -1) &&
              refused(Fprint32(fbfr) == -1) && refused(Ffree32(fbfr) == -1));
  EXPECT_TRUE(refused(Fadd32(fbfr, kLong, Raw(l), 0) == -1) &&
              refused(Fchg32(fbfr, kLong, 0, Raw(l), 0) == -1) &&
              refused(CFadd32(fbfr, kLong, Text("1"), 0, FLD_STRING) == -1) &&
              refused(CFchg32(fbfr, kLong, 0, Text("1"), 0, FLD_STRING) == -1) &&
              refused(Fdel32(fbfr, kLong, 0) == -1) && refused(Fdelall32(fbfr, kLong) == -1));
  EXPECT_TRUE(refused(Fget32(fbfr, kLong, 0, Raw(l), nullptr) == -1) &&
              refused(CFget32(fbfr, kLong, 0, text, &len, FLD_STRING) == -1) &&
              refused(Ffind32(fbfr, kLong, 0, nullptr) == nullptr) &&
              refused(CFfind32(fbfr, kLong, 0, nullptr, FLD_STRING) == nullptr) &&
              refused(Ffindlast32(fbfr, kLong, nullptr, nullptr) == nullptr) &&
              refused(Flen32(fbfr, kLong, 0) == -1) && refused(Foccur32(fbfr, kLong) == -1) &&
              refused(Fnext32(fbfr, &id, &oc, nullptr, nullptr) == -1));
  // 0 and "" are also their answers for an absent value.
  EXPECT_TRUE(Fpres32(fbfr, kLong, 0) == 0 && Fvall32(fbfr, kLong, 0) == 0 &&
              std::strcmp(Fvals32(fbfr, kString, 0), "") == 0 && Fielded32(fbfr) == 0);
  EXPECT_EQ(memory[0], 0x0123456789abcdefULL);

  // An image whose header claims more than the memory it was copied into.
  Fbfr big(Falloc32(100, 10000));
  ASSERT_EQ(Fadd32(big.get(), kString, Text("small content"), 0), 1);
  Fbfr small(Falloc32(2, 50));
  const auto room = static_cast<std::size_t>(Fsizeof32(small.get()));
  std::memcpy(small.get(), big.get(), room);
  EXPECT_EQ(Fielded32(small.get()), 0);
  ExpectFerror(Fadd32(small.get(), kString, Text("past the end"), 0) == -1, FNOTFLD, "oversized");
  ASSERT_EQ(Finit32(small.get(), static_cast<FLDLEN32>(room)), 1);
}

// Every byte of a valid image, replaced by a few values: each result is
// either refused or a block that works within its bounds. The images go to
// the same memory every time, so the engine also sees edited copies of a
// state it has cached.
TEST(Fml32Corrupt, EveryByteOfAnImageDamaged) {
  Fbfr sample = SampleBuffer();
  const auto size = static_cast<std::size_t>(Fsizeof32(sample.get()));
  const auto used = static_cast<std::size_t>(Fused32(sample.get())) + 64;  // holes included
  std::vector<unsigned char> image(size);
  std::memcpy(image.data(), sample.get(), size);
  std::vector<std::uint64_t> memory(size / 8 + 1);
  auto* fbfr = reinterpret_cast<FBFR32*>(memory.data());
  int accepted = 0;
  int refused = 0;
  for (std::size_t at = 0; at < std::min(used, size); ++at) {
    for (const unsigned char replacement : {0x00, 0xFF, 0x80, 0x01, 0x7F, 0x10}) {
      if (image[at] == replacement) continue;
      std::memcpy(memory.data(), image.data(), size);
      reinterpret_cast<unsigned char*>(memory.data())[at] = replacement;
      Ferror32 = 0;
      if (Fielded32(fbfr) == 1) {
        ++accepted;
        Exercise(fbfr);
      } else {
        ++refused;
        EXPECT_EQ(Fsizeof32(fbfr), -1);
        EXPECT_TRUE(Ferror32 == FNOTFLD || Ferror32 == FALIGNERR) << at;
      }
    }
  }
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);
  // The untouched image still reads back whole.
  std::memcpy(memory.data(), image.data(), size);
  EXPECT_STREQ(Fvals32(fbfr, kString, 1), "third");
}

}  // namespace
