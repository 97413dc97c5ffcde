// Damaged and foreign FML32 blocks: every function refuses them instead of
// reading or writing outside the block.
#include <fml32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <algorithm>
#include <set>
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

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 310);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 311);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 312);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 313);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 314);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 315);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 316);

// A buffer with every type, several occurrences and a deleted value.
Fbfr SampleBuffer() {
  Fbfr fbfr(Falloc32(20, 300));
  short s = 7;
  long l = -70000;
  char c = 'c';
  float f = 1.25f;
  double d = 2.5;
  Fadd32(fbfr.get(), kShort, Raw(s), 0);
  Fadd32(fbfr.get(), kString, Text("first"), 0);
  Fadd32(fbfr.get(), kLong, Raw(l), 0);
  Fadd32(fbfr.get(), kString, Text("second value"), 0);
  Fadd32(fbfr.get(), kChar, &c, 0);
  Fadd32(fbfr.get(), kFloat, Raw(f), 0);
  Fadd32(fbfr.get(), kCarray, Text("\x01\x02\x03"), 3);
  Fadd32(fbfr.get(), kDouble, Raw(d), 0);
  Fadd32(fbfr.get(), kString, Text("third"), 0);
  Fdel32(fbfr.get(), kString, 1);
  return fbfr;
}

const std::set<int> kRefusals = {FNOTFLD, FALIGNERR};

// Runs every reading function over `fbfr` and a few changes; any failure
// must be one of the expected error numbers.
void Exercise(FBFR32* fbfr) {
  const std::set<int> allowed = {FNOTFLD, FNOTPRES, FNOSPACE, FTYPERR};
  auto check = [&](bool ok, const char* what) {
    if (!ok) {
      EXPECT_TRUE(allowed.count(Ferror32) == 1) << what << " gave " << Ferror32;
    }
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
    FLDLEN32 room = static_cast<FLDLEN32>(value.size());
    check(Fget32(fbfr, id, oc, value.data(), &room) == 1, "Fget32");
    if (Fldtype32(id) == FLD_STRING) {
      const char* text = Fvals32(fbfr, id, oc);
      if (at != nullptr) {
        EXPECT_LE(std::strlen(text) + 1, found);  // terminated inside the value
      }
    }
    room = static_cast<FLDLEN32>(value.size());
    if (Fldtype32(id) <= FLD_CARRAY) check(CFget32(fbfr, id, oc, value.data(), &room, FLD_STRING) == 1, "CFget32");
    check(Foccur32(fbfr, id) >= 0, "Foccur32");
    FLDOCC32 last = 0;
    check(Ffindlast32(fbfr, id, &last, nullptr) != nullptr, "Ffindlast32");
  }
  FILE* sink = std::fopen("/dev/null", "w");
  check(Ffprint32(fbfr, sink) == 1, "Ffprint32");
  std::fclose(sink);
  check(Fnum32(fbfr) >= 0, "Fnum32");
  check(Fused32(fbfr) >= 0, "Fused32");
  const std::string longer(100, 'x');
  check(Fchg32(fbfr, kString, 0, Text(longer.c_str()), 0) == 1, "Fchg32");
  check(Fadd32(fbfr, kCarray, Text("abc"), 3) == 1, "Fadd32");
  check(Fdel32(fbfr, kShort, 0) == 1, "Fdel32");
  check(Fdelall32(fbfr, kDouble) == 1, "Fdelall32");
  long beyond = steps;
  check(Fchg32(fbfr, kLong, 3, Raw(beyond), 0) == 1, "Fchg32 beyond");
}

TEST(Fml32Corrupt, ForeignMemoryIsRefusedByEveryFunction) {
  std::vector<std::uint64_t> memory(64, 0x0123456789abcdefULL);
  auto* fbfr = reinterpret_cast<FBFR32*>(memory.data());
  long l = 1;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  FLDLEN32 len = 8;
  char text[16];
  const std::vector<std::pair<const char*, bool>> failures = {
      {"Fsizeof32", Fsizeof32(fbfr) == -1},
      {"Fused32", Fused32(fbfr) == -1},
      {"Funused32", Funused32(fbfr) == -1},
      {"Fnum32", Fnum32(fbfr) == -1},
      {"Fadd32", Fadd32(fbfr, kLong, Raw(l), 0) == -1},
      {"CFadd32", CFadd32(fbfr, kLong, Text("1"), 0, FLD_STRING) == -1},
      {"Fchg32", Fchg32(fbfr, kLong, 0, Raw(l), 0) == -1},
      {"CFchg32", CFchg32(fbfr, kLong, 0, Text("1"), 0, FLD_STRING) == -1},
      {"Fget32", Fget32(fbfr, kLong, 0, Raw(l), nullptr) == -1},
      {"CFget32", CFget32(fbfr, kLong, 0, text, &len, FLD_STRING) == -1},
      {"Ffind32", Ffind32(fbfr, kLong, 0, nullptr) == nullptr},
      {"CFfind32", CFfind32(fbfr, kLong, 0, nullptr, FLD_STRING) == nullptr},
      {"Ffindlast32", Ffindlast32(fbfr, kLong, nullptr, nullptr) == nullptr},
      {"Flen32", Flen32(fbfr, kLong, 0) == -1},
      {"Foccur32", Foccur32(fbfr, kLong) == -1},
      {"Fpres32", Fpres32(fbfr, kLong, 0) == 0},
      {"Fvall32", Fvall32(fbfr, kLong, 0) == 0},
      {"Fvals32", std::strcmp(Fvals32(fbfr, kString, 0), "") == 0},
      {"Fnext32", Fnext32(fbfr, &id, &oc, nullptr, nullptr) == -1},
      {"Fdel32", Fdel32(fbfr, kLong, 0) == -1},
      {"Fdelall32", Fdelall32(fbfr, kLong) == -1},
      {"Fprint32", Fprint32(fbfr) == -1},
      {"Fielded32", Fielded32(fbfr) == 0},
      {"Ffree32", Ffree32(fbfr) == -1},
  };
  for (const auto& [name, failed] : failures) EXPECT_TRUE(failed) << name;
  Ferror32 = 0;
  EXPECT_EQ(Fadd32(fbfr, kLong, Raw(l), 0), -1);
  EXPECT_EQ(Ferror32, FNOTFLD);
  EXPECT_EQ(memory[0], 0x0123456789abcdefULL);
}

TEST(Fml32Corrupt, MisalignedBlocksAreRefused) {
  Fbfr fbfr = SampleBuffer();
  std::vector<std::uint64_t> memory(static_cast<std::size_t>(Fsizeof32(fbfr.get())) / 8 + 2);
  char* shifted = reinterpret_cast<char*>(memory.data()) + 4;
  std::memcpy(shifted, fbfr.get(), static_cast<std::size_t>(Fsizeof32(fbfr.get())));
  auto* misaligned = reinterpret_cast<FBFR32*>(shifted);
  Ferror32 = 0;
  EXPECT_EQ(Fsizeof32(misaligned), -1);
  EXPECT_EQ(Ferror32, FALIGNERR);
  Ferror32 = 0;
  EXPECT_EQ(Ffind32(misaligned, kString, 0, nullptr), nullptr);
  EXPECT_EQ(Ferror32, FALIGNERR);
  EXPECT_EQ(Fielded32(misaligned), 0);
}

TEST(Fml32Corrupt, ImageClaimingMoreThanItsMemoryIsRefused) {
  Fbfr big(Falloc32(100, 10000));
  ASSERT_EQ(Fadd32(big.get(), kString, Text("small content"), 0), 1);
  Fbfr small(Falloc32(2, 50));
  const auto room = static_cast<std::size_t>(Fsizeof32(small.get()));
  ASSERT_LE(static_cast<std::size_t>(Fused32(big.get())), room);
  std::memcpy(small.get(), big.get(), room);  // the header still says 10000-odd bytes
  Ferror32 = 0;
  EXPECT_EQ(Fielded32(small.get()), 0);
  EXPECT_EQ(Fadd32(small.get(), kString, Text("would write past the end"), 0), -1);
  EXPECT_EQ(Ferror32, FNOTFLD);
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
        EXPECT_TRUE(kRefusals.count(Ferror32) == 1) << at;
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
