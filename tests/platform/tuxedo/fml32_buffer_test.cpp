// FML32 buffers: field identifiers, error texts, allocation, sizes, copies
// and relocation, and blocks that are damaged or no blocks at all.
#include <algorithm>
#include <thread>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

Fbfr Alloc(FLDOCC32 fields, FLDLEN32 bytes) { return Fbfr(Falloc32(fields, bytes)); }

// Raw aligned memory for Finit32 and image copies.
struct Memory {
  explicit Memory(std::size_t bytes) : words((bytes + 7) / 8 + 1) {}
  FBFR32* Fbfr() { return reinterpret_cast<FBFR32*>(words.data()); }
  char* Bytes() { return reinterpret_cast<char*>(words.data()); }
  std::vector<std::uint64_t> words;
};

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 310);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 1001);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 1002);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 1003);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 314);

int AddLong(FBFR32* fbfr, long value) { return Fadd32(fbfr, kLong, Raw(value), 0); }
int AddString(FBFR32* fbfr, const std::string& value) {
  return Fadd32(fbfr, kString, Text(value.c_str()), 0);
}

TEST(Fml32Buffers, FieldIdsAndErrorNumbers) {
  EXPECT_EQ(Fmkfldid32(FLD_STRING, 201), (5u << 25) | 201u);
  EXPECT_EQ(Fldno32(Fmkfldid32(FLD_DOUBLE, FMAXNUM32)), FMAXNUM32);
  EXPECT_STREQ(Ftype32(Fmkfldid32(FLD_MBSTRING, 300)), "mbstring");
  Ferror32 = 0;
  ExpectFerror(Fmkfldid32(FLD_LONG, 0) == BADFLDID, FBADFLD, "number 0");
  ExpectFerror(Fmkfldid32(FLD_LONG, FMAXNUM32 + 1u) == BADFLDID, FBADFLD, "number too large");
  ExpectFerror(Fmkfldid32(99, 200) == BADFLDID, FTYPERR, "type 99");
  ExpectFerror(Ftype32(100u << 25 | 1u) == nullptr, FTYPERR, "Ftype32 of type 100");
  // Every error number has a text, an unknown one none; the number is per thread.
  for (const int err : {FMINVAL, FNOSPACE, FBADRECORD}) EXPECT_GT(std::strlen(Fstrerror32(err)), 0u);
  for (const int err : {-1, FMAXVAL}) EXPECT_EQ(Fstrerror32(err), nullptr);
  Ferror32 = FNOSPACE;
  int seenInOtherThread = -1;
  std::thread([&] {
    seenInOtherThread = Ferror32;
    Ferror32 = FBADFLD;
  }).join();
  EXPECT_EQ(seenInOtherThread, 0);
  EXPECT_EQ(Ferror32, FNOSPACE);
}

TEST(Fml32Buffers, SizesAndTheSmallestBuffer) {
  const long empty = Fneeded32(0, 0);
  Fbfr fbfr = Alloc(10, 500);
  EXPECT_EQ(Fsizeof32(fbfr.get()), Fneeded32(10, 500));
  EXPECT_EQ(Fused32(fbfr.get()), empty);
  Ferror32 = 0;
  ExpectFerror(Fneeded32(-1, 10) == -1, FEINVAL, "Fneeded32 of -1 fields");
  ExpectFerror(Fneeded32(1, 0xFFFFFFFFu) == -1, FEINVAL, "Fneeded32 beyond 4 GB");
  Memory memory(256);
  const auto header = static_cast<FLDLEN32>(empty);
  ExpectFerror(Finit32(memory.Fbfr(), header - 1) == -1, FNOSPACE, "Finit32 below the header");
  ASSERT_EQ(Finit32(memory.Fbfr(), header), 1);
  EXPECT_EQ(Funused32(memory.Fbfr()), 0);
  ExpectFerror(AddLong(memory.Fbfr(), 1) == -1, FNOSPACE, "Fadd32 to the smallest buffer");
  ExpectFerror(Finit32(nullptr, 100) == -1, FNOTFLD, "Finit32 of null");
  auto* misaligned = reinterpret_cast<FBFR32*>(memory.Bytes() + 4);
  ExpectFerror(Finit32(misaligned, 100) == -1, FALIGNERR, "Finit32 misaligned");
}

// With Funused32 at Fneeded32(1, len), a value of len bytes fits, whether
// added or replacing a smaller one, and whether the free space lies at the
// end or partly in the space of a deleted value.
TEST(Fml32Buffers, FneededNeverUnderestimates) {
  enum History { kPlain, kWithHole, kSmallCarray };
  const auto replay = [](FBFR32* fbfr, int history) {
    for (int i = 0; i < 5; ++i) AddString(fbfr, std::string(37, 'f'));
    if (history == kWithHole) Fdel32(fbfr, kString, 1);
    if (history == kSmallCarray) Fadd32(fbfr, kCarray, Text("s"), 1);
    return Fused32(fbfr);
  };
  for (const int history : {kPlain, kWithHole, kSmallCarray}) {
    Memory dryRun(8192);
    ASSERT_EQ(Finit32(dryRun.Fbfr(), 8192), 1);
    const long used = replay(dryRun.Fbfr(), history);
    for (FLDLEN32 len = 0; len <= 300; ++len) {
      const long needed = Fneeded32(1, len);
      for (const bool asString : {false, true}) {
        if (asString && len == 0) continue;
        const auto size = static_cast<FLDLEN32>(used + needed);
        Memory exact(size);
        ASSERT_EQ(Finit32(exact.Fbfr(), size), 1);
        ASSERT_EQ(replay(exact.Fbfr(), history), used);
        const std::string text(len == 0 ? 0 : len - 1, 't');  // len bytes with its zero
        char* bytes = Text(text.c_str());  // as a carray: the same len bytes
        FBFR32* fbfr = exact.Fbfr();
        const int result = asString                  ? Fchg32(fbfr, kString, 2, bytes, 0)
                           : history == kSmallCarray ? Fchg32(fbfr, kCarray, 0, bytes, len)
                                                     : Fadd32(fbfr, kCarray, bytes, len);
        ASSERT_EQ(result, 1) << "len " << len << " history " << history << " string " << asString;
      }
    }
  }
  // Falloc32(F, V) holds F values of V bytes in all.
  Fbfr twenty = Alloc(20, 20 * 9);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(AddString(twenty.get(), "12345678"), 1) << i;
}

TEST(Fml32Buffers, DeletedSpaceIsReusedAndLeavesNoTrace) {
  Fbfr fbfr = Alloc(4, 400);
  const std::string secret = "password=swordfish" + std::string(72, '.');
  const std::string kept(90, 'c');
  for (const std::string& value : {secret, secret, kept, secret})
    ASSERT_EQ(AddString(fbfr.get(), value), 1);
  const long full = Fused32(fbfr.get());
  const std::string moved(150, 'y');
  ASSERT_EQ(Fdel32(fbfr.get(), kString, 1), 1);                          // a hole
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 0, Text("x"), 0), 1);            // shrunk in place
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 2, Text(moved.c_str()), 0), 1);  // moved
  EXPECT_LT(Fused32(fbfr.get()), full);
  EXPECT_EQ(Fused32(fbfr.get()) + Funused32(fbfr.get()), Fsizeof32(fbfr.get()));
  const std::string image(reinterpret_cast<char*>(fbfr.get()),
                          static_cast<std::size_t>(Fsizeof32(fbfr.get())));
  EXPECT_EQ(image.find("swordfish"), std::string::npos);
  // Filling the buffer up to the last byte must reuse the hole.
  while (AddLong(fbfr.get(), 7) == 1) continue;
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_LT(Funused32(fbfr.get()), Fneeded32(1, sizeof(long)));
  EXPECT_EQ(Fvals32(fbfr.get(), kString, 1), kept);
  EXPECT_EQ(Fvals32(fbfr.get(), kString, 2), moved);
}

TEST(Fml32Buffers, CopiesByFcpyMemcpyFmoveAndFrealloc) {
  Fbfr source = Alloc(100, 4000);
  for (long i = 0; i < 50; ++i) {
    ASSERT_EQ(AddLong(source.get(), i), 1);
    ASSERT_EQ(AddString(source.get(), "row " + std::to_string(i)), 1);
  }
  ASSERT_EQ(Fdel32(source.get(), kLong, 3), 1);
  // Fcpy32 keeps the target's size, or on FNOSPACE the whole target.
  Fbfr large = Alloc(200, 8000);
  ASSERT_EQ(AddString(large.get(), "replaced"), 1);
  ASSERT_EQ(Fcpy32(large.get(), source.get()), 1);
  EXPECT_EQ(Fsizeof32(large.get()), Fneeded32(200, 8000));
  EXPECT_EQ(Fused32(large.get()), Fused32(source.get()));
  EXPECT_STREQ(Fvals32(large.get(), kString, 0), "row 0");
  Fbfr small = Alloc(2, 40);
  ASSERT_EQ(AddString(small.get(), "keep"), 1);
  const std::string before(reinterpret_cast<char*>(small.get()),
                           static_cast<std::size_t>(Fsizeof32(small.get())));
  ExpectFerror(Fcpy32(small.get(), source.get()) == -1, FNOSPACE, "Fcpy32 to a small buffer");
  EXPECT_EQ(std::memcmp(before.data(), small.get(), before.size()), 0);

  // A memcpy of the block is a working buffer that changes on its own.
  const auto size = static_cast<std::size_t>(Fsizeof32(source.get()));
  Memory copy(size);
  std::memcpy(copy.Bytes(), source.get(), size);
  EXPECT_EQ(Fvall32(copy.Fbfr(), kLong, 3), 4);
  ASSERT_EQ(Fchg32(copy.Fbfr(), kString, 0, Text("changed, and longer than before"), 0), 1);
  EXPECT_STREQ(Fvals32(source.get(), kString, 0), "row 0");
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 49), "row 49");
  // The original image moved back over the changed copy restores it.
  EXPECT_EQ(Fmove32(copy.Bytes(), source.get()), 1);
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 0), "row 0");
  ExpectFerror(Fmove32(copy.Bytes() + 2, source.get()) == -1, FALIGNERR, "Fmove32 misaligned");
  // Frealloc32 keeps the contents.
  FBFR32* fbfr = Falloc32(1, 20);
  ASSERT_EQ(AddString(fbfr, "0123456789"), 1);
  ASSERT_EQ(AddString(fbfr, "more"), -1);
  fbfr = Frealloc32(fbfr, 10, 200);
  ASSERT_NE(fbfr, nullptr);
  EXPECT_EQ(Fsizeof32(fbfr), Fneeded32(10, 200));
  ASSERT_EQ(AddString(fbfr, "more"), 1);
  EXPECT_STREQ(Fvals32(fbfr, kString, 0), "0123456789");
  ExpectFerror(Frealloc32(fbfr, 0, 1) == nullptr, FMALLOC, "Frealloc32 below the contents");
  ExpectFerror(Frealloc32(fbfr, 10, 0) == nullptr, FEINVAL, "Frealloc32 without value space");
  EXPECT_STREQ(Fvals32(fbfr, kString, 1), "more");
  EXPECT_EQ(Ffree32(fbfr), 1);
}

// ---- damaged and foreign blocks -------------------------------------------------
// Every function refuses them instead of reading or writing outside the block.

// A buffer with every type, several occurrences and a deleted value.
Fbfr SampleBuffer() {
  Fbfr fbfr(Falloc32(20, 300));
  const char* values[] = {"7",    "first",    "-70000", "second value", "c",
                          "1.25", "\x01\x02", "2.5",    "third"};
  const FLDID32 ids[] = {
      kShort,  kString, kLong,  kString, Fmkfldid32(FLD_CHAR, 312), Fmkfldid32(FLD_FLOAT, 313),
      kCarray, kDouble, kString};
  for (int i = 0; i < 9; ++i) CFadd32(fbfr.get(), ids[i], Text(values[i]), 0, FLD_STRING);
  Fdel32(fbfr.get(), kString, 1);
  return fbfr;
}

// Runs every reading function over an accepted block and a few changes;
// whatever fails must fail with an error number, never crash or overrun.
void Exercise(FBFR32* fbfr) {
  auto check = [](bool ok, const char* what) {
    const bool allowed =
        Ferror32 == FNOTFLD || Ferror32 == FNOTPRES || Ferror32 == FNOSPACE || Ferror32 == FTYPERR;
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
