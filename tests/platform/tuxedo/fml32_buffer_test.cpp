// FML32 buffers: allocation, sizes, copies, relocation and field identifiers.
#include <fml32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

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
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 1004);

int AddLong(FBFR32* fbfr, long value) { return Fadd32(fbfr, kLong, reinterpret_cast<char*>(&value), 0); }
int AddString(FBFR32* fbfr, const std::string& value) {
  return Fadd32(fbfr, kString, const_cast<char*>(value.c_str()), 0);
}

TEST(Fml32FieldIds, TypeAboveTwentyFiveNumberBits) {
  EXPECT_EQ(Fmkfldid32(FLD_STRING, 201), (5u << 25) | 201u);
  EXPECT_EQ(Fldtype32(Fmkfldid32(FLD_CARRAY, 7)), FLD_CARRAY);
  EXPECT_EQ(Fldno32(Fmkfldid32(FLD_DOUBLE, FMAXNUM32)), FMAXNUM32);
  const char* names[] = {"short", "long", "char", "float", "double", "string", "carray",
                         "int", "dec_t", "ptr", "fml32", "view32", "mbstring", "fml"};
  for (int type = 0; type < 14; ++type) {
    ASSERT_NE(Ftype32(Fmkfldid32(type, 300)), nullptr) << type;
    EXPECT_STREQ(Ftype32(Fmkfldid32(type, 300)), names[type]);
  }
}

TEST(Fml32FieldIds, InvalidTypesAndNumbers) {
  const struct {
    int type;
    FLDID32 number;
    int error;
  } cases[] = {{FLD_LONG, 0, FBADFLD}, {FLD_LONG, FMAXNUM32 + 1u, FBADFLD}, {99, 200, FTYPERR}, {-1, 200, FTYPERR}};
  for (const auto& c : cases) {
    Ferror32 = 0;
    EXPECT_EQ(Fmkfldid32(c.type, c.number), BADFLDID);
    EXPECT_EQ(Ferror32, c.error);
  }
  Ferror32 = 0;
  EXPECT_EQ(Ftype32(100u << 25 | 1u), nullptr);
  EXPECT_EQ(Ferror32, FTYPERR);
}

TEST(Fml32Errors, EveryNumberHasAText) {
  std::vector<std::string> texts;
  for (int err = FMINVAL; err < FMAXVAL; ++err) {
    const char* text = Fstrerror32(err);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(std::strlen(text), 0u);
    texts.emplace_back(text);
  }
  for (std::size_t i = 1; i < texts.size(); ++i) EXPECT_NE(texts[i], texts[i - 1]);
  for (const int err : {-1, FMAXVAL, 1000}) {
    ASSERT_NE(Fstrerror32(err), nullptr);
    EXPECT_GT(std::strlen(Fstrerror32(err)), 0u);
  }
}

TEST(Fml32Errors, ErrorNumberIsPerThreadAndAssignable) {
  Ferror32 = FNOSPACE;
  int seenInOtherThread = -1;
  std::thread([&] { seenInOtherThread = Ferror32; Ferror32 = FBADFLD; }).join();
  EXPECT_EQ(seenInOtherThread, 0);
  EXPECT_EQ(Ferror32, FNOSPACE);
  Ferror32 = 0;
}

TEST(Fml32Buffers, EmptyBuffersAndTheirSizes) {
  const long empty = Fneeded32(0, 0);
  ASSERT_GT(empty, 0);
  Fbfr fbfr = Alloc(10, 500);
  EXPECT_EQ(Fsizeof32(fbfr.get()), Fneeded32(10, 500));
  EXPECT_EQ(Fused32(fbfr.get()), empty);
  EXPECT_EQ(Funused32(fbfr.get()), Fneeded32(10, 500) - empty);
  EXPECT_EQ(Fnum32(fbfr.get()), 0);
  Ferror32 = 0;
  EXPECT_EQ(Fneeded32(-1, 10), -1);
  EXPECT_EQ(Ferror32, FEINVAL);
  EXPECT_EQ(Falloc32(-1, 10), nullptr);
}

TEST(Fml32Buffers, FinitNeedsRoomForTheHeader) {
  Memory memory(256);
  const auto empty = static_cast<FLDLEN32>(Fneeded32(0, 0));
  Ferror32 = 0;
  EXPECT_EQ(Finit32(memory.Fbfr(), empty - 1), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(Finit32(memory.Fbfr(), empty), 1);
  EXPECT_EQ(Funused32(memory.Fbfr()), 0);
  EXPECT_EQ(AddLong(memory.Fbfr(), 1), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(Finit32(nullptr, 100), -1);
  EXPECT_EQ(Ferror32, FNOTFLD);
  EXPECT_EQ(Finit32(reinterpret_cast<FBFR32*>(memory.Bytes() + 4), 100), -1);
  EXPECT_EQ(Ferror32, FALIGNERR);
}

// Whenever Funused32 reaches Fneeded32(1, len), a value of len bytes fits,
// whether added or replacing a smaller one, and whether the free space lies
// at the end or partly in the space of a deleted value.
enum class History { Plain, WithHole, SmallCarray };

void Replay(FBFR32* fbfr, History history) {
  const std::string filler(37, 'f');
  for (int i = 0; i < 5; ++i) ASSERT_EQ(AddString(fbfr, filler), 1);
  if (history == History::WithHole) {
    ASSERT_EQ(Fdel32(fbfr, kString, 1), 1);
  }
  const char small[1] = {'s'};
  if (history == History::SmallCarray) {
    ASSERT_EQ(Fadd32(fbfr, kCarray, const_cast<char*>(small), 1), 1);
  }
}

TEST(Fml32Buffers, FneededNeverUnderestimates) {
  for (FLDLEN32 len = 0; len <= 300; ++len) {
    const long needed = Fneeded32(1, len);
    ASSERT_GT(needed, 0);
    for (const History history : {History::Plain, History::WithHole, History::SmallCarray}) {
      Memory dryRun(8192);
      ASSERT_EQ(Finit32(dryRun.Fbfr(), 8192), 1);
      Replay(dryRun.Fbfr(), history);
      const auto size = static_cast<FLDLEN32>(Fused32(dryRun.Fbfr()) + needed);
      for (const bool asString : {false, true}) {
        if (asString && len == 0) continue;
        Memory exact(size);
        ASSERT_EQ(Finit32(exact.Fbfr(), size), 1);
        Replay(exact.Fbfr(), history);
        ASSERT_EQ(Funused32(exact.Fbfr()), needed);
        const std::vector<char> bytes(len + 1, 'v');  // never a null pointer
        const std::string text(len == 0 ? 0 : len - 1, 't');  // len bytes with its zero
        int result = 0;
        if (asString) {
          result = Fchg32(exact.Fbfr(), kString, 2, const_cast<char*>(text.c_str()), 0);
        } else if (history == History::SmallCarray) {
          result = Fchg32(exact.Fbfr(), kCarray, 0, const_cast<char*>(bytes.data()), len);
        } else {
          result = Fadd32(exact.Fbfr(), kCarray, const_cast<char*>(bytes.data()), len);
        }
        ASSERT_EQ(result, 1) << "len " << len << " history " << static_cast<int>(history) << " string " << asString;
      }
    }
  }
}

TEST(Fml32Buffers, FallocHoldsWhatItWasAskedFor) {
  Fbfr fbfr = Alloc(20, 20 * 9);
  ASSERT_TRUE(fbfr);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(AddString(fbfr.get(), "12345678"), 1) << i;
}

TEST(Fml32Buffers, UsedPlusUnusedIsTheSizeAndDeletedSpaceIsReused) {
  Fbfr fbfr = Alloc(4, 400);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(AddString(fbfr.get(), std::string(90, 'a' + i)), 1);
  const long full = Fused32(fbfr.get());
  EXPECT_EQ(Fused32(fbfr.get()) + Funused32(fbfr.get()), Fsizeof32(fbfr.get()));
  ASSERT_EQ(Fdel32(fbfr.get(), kString, 1), 1);
  const long afterDelete = Fused32(fbfr.get());
  EXPECT_LT(afterDelete, full);
  EXPECT_EQ(afterDelete + Funused32(fbfr.get()), Fsizeof32(fbfr.get()));
  // Fill the buffer up to the last byte: the hole must be reused.
  while (AddLong(fbfr.get(), 7) == 1) {
  }
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_LT(Funused32(fbfr.get()), Fneeded32(1, sizeof(long)));
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 1), std::string(90, 'c').c_str());
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 2), std::string(90, 'd').c_str());
}

TEST(Fml32Buffers, DeletedValuesLeaveNoTraceInTheImage) {
  Fbfr fbfr = Alloc(10, 400);
  const std::string secret = "password=swordfish";
  ASSERT_EQ(AddString(fbfr.get(), secret), 1);
  ASSERT_EQ(AddString(fbfr.get(), secret), 1);
  ASSERT_EQ(AddString(fbfr.get(), secret), 1);
  ASSERT_EQ(AddLong(fbfr.get(), 1), 1);
  ASSERT_EQ(Fdel32(fbfr.get(), kString, 0), 1);                               // a hole
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 0, const_cast<char*>("x"), 0), 1);    // shrunk in place
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 1, const_cast<char*>(std::string(60, 'y').c_str()), 0), 1);  // moved
  const std::string image(reinterpret_cast<char*>(fbfr.get()), static_cast<std::size_t>(Fsizeof32(fbfr.get())));
  EXPECT_EQ(image.find("swordfish"), std::string::npos);
}

TEST(Fml32Buffers, FcpyCopiesIntoABufferOfAnotherSize) {
  Fbfr source = Alloc(10, 200);
  ASSERT_EQ(AddString(source.get(), "first"), 1);
  ASSERT_EQ(AddLong(source.get(), 42), 1);
  ASSERT_EQ(AddString(source.get(), "second"), 1);
  ASSERT_EQ(Fdel32(source.get(), kString, 0), 1);
  Fbfr target = Alloc(50, 2000);
  ASSERT_EQ(AddLong(target.get(), 9), 1);
  ASSERT_EQ(Fcpy32(target.get(), source.get()), 1);
  EXPECT_EQ(Fsizeof32(target.get()), Fneeded32(50, 2000));
  EXPECT_EQ(Fnum32(target.get()), 2);
  EXPECT_EQ(Fvall32(target.get(), kLong, 0), 42);
  EXPECT_STREQ(Fvals32(target.get(), kString, 0), "second");
  EXPECT_EQ(Fused32(target.get()), Fused32(source.get()));
}

TEST(Fml32Buffers, FcpyIntoTooSmallBufferFailsAndLeavesItIntact) {
  Fbfr source = Alloc(10, 400);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(AddString(source.get(), std::string(60, 'x')), 1);
  Fbfr target = Alloc(2, 40);
  ASSERT_EQ(AddLong(target.get(), 5), 1);
  ASSERT_EQ(AddString(target.get(), "keep"), 1);
  const std::vector<char> before(reinterpret_cast<char*>(target.get()),
                                 reinterpret_cast<char*>(target.get()) + Fsizeof32(target.get()));
  Ferror32 = 0;
  EXPECT_EQ(Fcpy32(target.get(), source.get()), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(std::memcmp(before.data(), target.get(), before.size()), 0);
  EXPECT_EQ(Fvall32(target.get(), kLong, 0), 5);
  EXPECT_STREQ(Fvals32(target.get(), kString, 0), "keep");
  Memory junk(256);
  std::memset(junk.Bytes(), 0x5A, 256);
  EXPECT_EQ(Fcpy32(junk.Fbfr(), source.get()), -1);  // the target must be a buffer
  EXPECT_EQ(Ferror32, FNOTFLD);
}

TEST(Fml32Buffers, MemcpyOfTheBlockIsAWorkingCopy) {
  Fbfr original = Alloc(100, 4000);
  for (long i = 0; i < 50; ++i) {
    ASSERT_EQ(AddLong(original.get(), i), 1);
    ASSERT_EQ(AddString(original.get(), "row " + std::to_string(i)), 1);
  }
  ASSERT_EQ(Fdel32(original.get(), kLong, 3), 1);
  const auto size = static_cast<std::size_t>(Fsizeof32(original.get()));
  Memory copy(size);
  std::memcpy(copy.Bytes(), original.get(), size);
  EXPECT_EQ(Fielded32(copy.Fbfr()), 1);
  EXPECT_EQ(Foccur32(copy.Fbfr(), kLong), 49);
  EXPECT_EQ(Fvall32(copy.Fbfr(), kLong, 3), 4);
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 49), "row 49");
  // The copy changes on its own.
  ASSERT_EQ(Fchg32(copy.Fbfr(), kString, 0, const_cast<char*>("changed, and longer than before"), 0), 1);
  EXPECT_STREQ(Fvals32(original.get(), kString, 0), "row 0");
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 0), "changed, and longer than before");
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 1), "row 1");
  // Copying the original image back over the changed copy restores it.
  std::memcpy(copy.Bytes(), original.get(), size);
  EXPECT_STREQ(Fvals32(copy.Fbfr(), kString, 0), "row 0");
}

TEST(Fml32Buffers, FmoveCopiesTheWholeBlock) {
  Fbfr source = Alloc(5, 100);
  ASSERT_EQ(AddLong(source.get(), -3), 1);
  Memory target(static_cast<std::size_t>(Fsizeof32(source.get())));
  EXPECT_EQ(Fmove32(target.Bytes(), source.get()), 1);
  EXPECT_EQ(Fsizeof32(target.Fbfr()), Fsizeof32(source.get()));
  EXPECT_EQ(Fvall32(target.Fbfr(), kLong, 0), -3);
  Ferror32 = 0;
  EXPECT_EQ(Fmove32(target.Bytes() + 2, source.get()), -1);
  EXPECT_EQ(Ferror32, FALIGNERR);
}

TEST(Fml32Buffers, FreallocKeepsTheContents) {
  FBFR32* fbfr = Falloc32(1, 20);
  ASSERT_NE(fbfr, nullptr);
  ASSERT_EQ(AddString(fbfr, "0123456789"), 1);
  ASSERT_EQ(AddString(fbfr, "more"), -1);
  ASSERT_EQ(Ferror32, FNOSPACE);
  fbfr = Frealloc32(fbfr, 10, 200);
  ASSERT_NE(fbfr, nullptr);
  EXPECT_EQ(Fsizeof32(fbfr), Fneeded32(10, 200));
  ASSERT_EQ(AddString(fbfr, "more"), 1);
  EXPECT_STREQ(Fvals32(fbfr, kString, 0), "0123456789");
  EXPECT_STREQ(Fvals32(fbfr, kString, 1), "more");
  Ferror32 = 0;
  EXPECT_EQ(Frealloc32(fbfr, 0, 0), nullptr);  // smaller than its contents
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_STREQ(Fvals32(fbfr, kString, 1), "more");
  EXPECT_EQ(Ffree32(fbfr), 1);
}

}  // namespace
