// FML32 buffers: field identifiers, error texts, allocation, sizes, copies
// and relocation.
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

const FLDID32 kLong = Fmkfldid32(FLD_LONG, 1001);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 1002);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 1003);

int AddLong(FBFR32* fbfr, long value) { return Fadd32(fbfr, kLong, Raw(value), 0); }
int AddString(FBFR32* fbfr, const std::string& value) {
  return Fadd32(fbfr, kString, Text(value.c_str()), 0);
}

TEST(Fml32Buffers, FieldIdsAndErrorNumbers) {
  EXPECT_EQ(Fmkfldid32(FLD_STRING, 201), (5u << 25) | 201u);
  EXPECT_EQ(Fldtype32(Fmkfldid32(FLD_CARRAY, 7)), FLD_CARRAY);
  EXPECT_EQ(Fldno32(Fmkfldid32(FLD_DOUBLE, FMAXNUM32)), FMAXNUM32);
  EXPECT_STREQ(Ftype32(Fmkfldid32(FLD_MBSTRING, 300)), "mbstring");
  Ferror32 = 0;
  ExpectFerror(Fmkfldid32(FLD_LONG, 0) == BADFLDID, FBADFLD, "number 0");
  ExpectFerror(Fmkfldid32(FLD_LONG, FMAXNUM32 + 1u) == BADFLDID, FBADFLD, "number too large");
  ExpectFerror(Fmkfldid32(99, 200) == BADFLDID, FTYPERR, "type 99");
  ExpectFerror(Fmkfldid32(-1, 200) == BADFLDID, FTYPERR, "type -1");
  ExpectFerror(Ftype32(100u << 25 | 1u) == nullptr, FTYPERR, "Ftype32 of type 100");
  // Every error number has a text; the number is per thread.
  for (const int err : {-1, FNOSPACE, FMAXVAL}) EXPECT_GT(std::strlen(Fstrerror32(err)), 0u);
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
  for (const std::string& value : {secret, secret, kept, secret}) {
    ASSERT_EQ(AddString(fbfr.get(), value), 1);
  }
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
  while (AddLong(fbfr.get(), 7) == 1) {
  }
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_LT(Funused32(fbfr.get()), Fneeded32(1, sizeof(long)));
  EXPECT_EQ(Fvals32(fbfr.get(), kString, 1), kept);
  EXPECT_EQ(Fvals32(fbfr.get(), kString, 2), moved);
}

TEST(Fml32Buffers, CopiesByFcpyMemcpyAndFmove) {
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
  Ferror32 = 0;
  ExpectFerror(Fcpy32(small.get(), source.get()) == -1, FNOSPACE, "Fcpy32 to a small buffer");
  EXPECT_EQ(std::memcmp(before.data(), small.get(), before.size()), 0);
  EXPECT_STREQ(Fvals32(small.get(), kString, 0), "keep");

  // A memcpy of the block is a working buffer that changes on its own.
  const auto size = static_cast<std::size_t>(Fsizeof32(source.get()));
  Memory copy(size);
  std::memcpy(copy.Bytes(), source.get(), size);
  EXPECT_EQ(Fvall32(copy.Fbfr(), kLong, 3), 4);
  ASSERT_EQ(Fchg32(copy.Fbfr(), kString, 0, Text("changed, and longer than before"), 0), 1);
  EXPECT_STREQ(Fvals32(source.get(), kString, 0), "row 0");
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 49), "row 49");
  // The original image copied back over the changed copy restores it.
  std::memcpy(copy.Bytes(), source.get(), size);
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 0), "row 0");
  ASSERT_EQ(Fchg32(copy.Fbfr(), kString, 0, Text("changed again"), 0), 1);
  EXPECT_EQ(Fmove32(copy.Bytes(), source.get()), 1);
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 0), "row 0");
  ExpectFerror(Fmove32(copy.Bytes() + 2, source.get()) == -1, FALIGNERR, "Fmove32 misaligned");
}

TEST(Fml32Buffers, FreallocKeepsTheContents) {
  FBFR32* fbfr = Falloc32(1, 20);
  ASSERT_EQ(AddString(fbfr, "0123456789"), 1);
  ASSERT_EQ(AddString(fbfr, "more"), -1);
  fbfr = Frealloc32(fbfr, 10, 200);
  ASSERT_NE(fbfr, nullptr);
  EXPECT_EQ(Fsizeof32(fbfr), Fneeded32(10, 200));
  ASSERT_EQ(AddString(fbfr, "more"), 1);
  EXPECT_STREQ(Fvals32(fbfr, kString, 0), "0123456789");
  Ferror32 = 0;
  ExpectFerror(Frealloc32(fbfr, 0, 0) == nullptr, FNOSPACE, "Frealloc32 below the contents");
  EXPECT_STREQ(Fvals32(fbfr, kString, 1), "more");
  EXPECT_EQ(Ffree32(fbfr), 1);
}

}  // namespace
