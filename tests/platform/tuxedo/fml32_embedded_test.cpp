// FML32 embedded buffers (fml32 and ptr fields) and long fields changed in
// the middle: what a program written from the manual pages sees.
#include <algorithm>
#include <random>

#include "../../../platform/tuxedo/builtin/fml32_internal.h"
#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kInner = Fmkfldid32(FLD_FML32, 2001);
const FLDID32 kDeeper = Fmkfldid32(FLD_FML32, 2002);
const FLDID32 kPtr = Fmkfldid32(FLD_PTR, 2003);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 2004);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 2005);
const FLDID32 kOther = Fmkfldid32(FLD_LONG, 2006);

Fbfr Alloc(FLDOCC32 fields = 20, FLDLEN32 bytes = 2000) { return Fbfr(Falloc32(fields, bytes)); }
char* AsValue(FBFR32* fbfr) { return reinterpret_cast<char*>(fbfr); }

long LongAt(FBFR32* fbfr, FLDID32 id, FLDOCC32 oc) {
  long value = -1;
  EXPECT_EQ(Fget32(fbfr, id, oc, Raw(value), nullptr), 1) << oc;
  return value;
}

// An inner buffer of two longs and a string, with a hole left by a delete.
Fbfr InnerWithHole() {
  Fbfr inner = Alloc();
  for (long value : {7L, 8L, 9L}) Fadd32(inner.get(), kLong, Raw(value), 0);
  Fadd32(inner.get(), kString, Text("inner text"), 0);
  Fdel32(inner.get(), kLong, 0);
  return inner;
}

std::string Printed(FBFR32* fbfr) {
  char* text = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  EXPECT_EQ(Ffprint32(fbfr, out), 1);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

int ReadText(FBFR32* fbfr, const std::string& text) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  const int result = Fextread32(fbfr, in);
  std::fclose(in);
  return result;
}

std::string Id(FLDID32 id) { return "((FLDID32)" + std::to_string(id) + ")"; }

TEST(Fml32Embedded, AnAddedBufferIsACompactedCopyThatReadsAsABuffer) {
  Fbfr outer = Alloc();
  Fbfr inner = InnerWithHole();
  ASSERT_EQ(Fadd32(outer.get(), kInner, AsValue(inner.get()), 0), 1);
  // Stored without the hole; later changes to the original do not reach it.
  EXPECT_EQ(Flen32(outer.get(), kInner, 0), Fused32(inner.get()));
  long changed = 100;
  ASSERT_EQ(Fchg32(inner.get(), kLong, 0, Raw(changed), 0), 1);

  FLDLEN32 len = 0;
  auto* found = reinterpret_cast<FBFR32*>(Ffind32(outer.get(), kInner, 0, &len));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(len, static_cast<FLDLEN32>(Fsizeof32(found)));
  EXPECT_EQ(Fused32(found), Fsizeof32(found));
  EXPECT_EQ(Foccur32(found, kLong), 2);
  EXPECT_EQ(LongAt(found, kLong, 0), 8);
  EXPECT_STREQ(Fvals32(found, kString, 0), "inner text");

  // Fget32 copies it out as a buffer as large as the room offered.
  Fbfr copy = Alloc(4, 100);
  FLDLEN32 room = static_cast<FLDLEN32>(Fsizeof32(copy.get()));
  ASSERT_EQ(Fget32(outer.get(), kInner, 0, AsValue(copy.get()), &room), 1);
  EXPECT_EQ(room, len);
  EXPECT_EQ(Fsizeof32(copy.get()), Fneeded32(4, 100));
  EXPECT_EQ(LongAt(copy.get(), kLong, 1), 9);
  ASSERT_EQ(Fadd32(copy.get(), kLong, Raw(changed), 0), 1);
  EXPECT_EQ(Foccur32(found, kLong), 2);

  Ferror32 = 0;
  FLDLEN32 small = len - 8;
  ExpectFerror(Fget32(outer.get(), kInner, 0, AsValue(copy.get()), &small) == -1, FNOSPACE, "Fget32 small room");
  ExpectFerror(Fadd32(outer.get(), kInner, Text("not a buffer at all...................."), 0) == -1, FNOTFLD,
               "Fadd32 of bytes that are no buffer");
  ExpectFerror(Fadd32(outer.get(), kInner, nullptr, 0) == -1, FEINVAL, "Fadd32 of null");
  std::vector<std::uint64_t> words(64);
  ExpectFerror(Fget32(outer.get(), kInner, 0, reinterpret_cast<char*>(words.data()) + 4, nullptr) == -1, FALIGNERR,
               "Fget32 to misaligned memory");
  // Conversions and the value shortcuts do not apply to embedded buffers.
  ExpectFerror(CFget32(outer.get(), kInner, 0, reinterpret_cast<char*>(words.data()), nullptr, FLD_STRING) == -1,
               FEBADOP, "CFget32");
  ExpectFerror(Fvall32(outer.get(), kInner, 0) == 0, FTYPERR, "Fvall32");
}

TEST(Fml32Embedded, ChangesDefaultsDeletesWalksAndCopies) {
  Fbfr outer = Alloc(30, 4000);
  Fbfr inner = InnerWithHole();
  Fbfr empty = Alloc(1, 10);
  ASSERT_EQ(Fadd32(outer.get(), kLong, Raw(inner), 0), 1);  // a neighbour before
  // Occurrence 2 of a field that has none: two empty buffers come first.
  ASSERT_EQ(Fchg32(outer.get(), kInner, 2, AsValue(inner.get()), 0), 1);
  EXPECT_EQ(Foccur32(outer.get(), kInner), 3);
  auto* first = reinterpret_cast<FBFR32*>(Ffind32(outer.get(), kInner, 0, nullptr));
  EXPECT_EQ(Fnum32(first), 0);
  EXPECT_EQ(Flen32(outer.get(), kInner, 1), Fneeded32(0, 0));
  // Replaced by a larger buffer (in the middle) and by a smaller one.
  ASSERT_EQ(Fchg32(outer.get(), kInner, 1, AsValue(inner.get()), 0), 1);
  ASSERT_EQ(Fchg32(outer.get(), kInner, 2, AsValue(empty.get()), 0), 1);
  EXPECT_EQ(Fnum32(reinterpret_cast<FBFR32*>(Ffind32(outer.get(), kInner, 1, nullptr))), 3);
  EXPECT_EQ(Fnum32(reinterpret_cast<FBFR32*>(Ffind32(outer.get(), kInner, 2, nullptr))), 0);
  // A buffer added to itself holds what it held before.
  const FLDOCC32 before = Fnum32(outer.get());
  ASSERT_EQ(Fadd32(outer.get(), kDeeper, AsValue(outer.get()), 0), 1);
  EXPECT_EQ(Fnum32(reinterpret_cast<FBFR32*>(Ffind32(outer.get(), kDeeper, 0, nullptr))), before);

  // Fnext32 copies an embedded buffer out like Fget32.
  std::vector<std::uint64_t> words(512);
  FLDID32 id = kInner;
  FLDOCC32 oc = 0;
  FLDLEN32 len = sizeof(std::uint64_t) * 512;
  ASSERT_EQ(Fnext32(outer.get(), &id, &oc, reinterpret_cast<char*>(words.data()), &len), 1);
  EXPECT_EQ(oc, 1);
  auto* walked = reinterpret_cast<FBFR32*>(words.data());
  EXPECT_EQ(LongAt(walked, kLong, 0), 8);
  EXPECT_EQ(Fsizeof32(walked), 512 * 8);

  // Copies of the outer buffer carry the embedded ones along.
  Fbfr copy = Alloc(30, 4000);
  ASSERT_EQ(Fcpy32(copy.get(), outer.get()), 1);
  std::vector<std::uint64_t> moved(static_cast<std::size_t>(Fsizeof32(outer.get())) / 8 + 1);
  ASSERT_EQ(Fmove32(reinterpret_cast<char*>(moved.data()), outer.get()), 1);
  for (FBFR32* each : {copy.get(), reinterpret_cast<FBFR32*>(moved.data())}) {
    EXPECT_EQ(LongAt(reinterpret_cast<FBFR32*>(Ffind32(each, kInner, 1, nullptr)), kLong, 1), 9);
  }
  EXPECT_EQ(Fused32(outer.get()) + Funused32(outer.get()), Fsizeof32(outer.get()));
  const long used = Fused32(outer.get());
  ASSERT_EQ(Fdel32(outer.get(), kInner, 1), 1);
  EXPECT_EQ(Fused32(outer.get()), used - Flen32(copy.get(), kInner, 1) - 8);
  EXPECT_EQ(Fnum32(reinterpret_cast<FBFR32*>(Ffind32(outer.get(), kInner, 1, nullptr))), 0);
  ASSERT_EQ(Fdelall32(outer.get(), kInner), 1);
  EXPECT_EQ(Foccur32(outer.get(), kInner), 0);
  // The view32 type has no storage here.
  Ferror32 = 0;
  ExpectFerror(Fadd32(outer.get(), Fmkfldid32(FLD_VIEW32, 2010), AsValue(inner.get()), 0) == -1, FTYPERR,
               "Fadd32 view32");
  ExpectFerror(Fget32(outer.get(), Fmkfldid32(FLD_VIEW32, 2010), 0, nullptr, nullptr) == -1, FTYPERR,
               "Fget32 view32");
}

TEST(Fml32Embedded, PointerFieldsHoldThePointerValue) {
  Fbfr fbfr = Alloc();
  char target[] = "pointed to";
  char* pointer = target;
  ASSERT_EQ(Fadd32(fbfr.get(), kPtr, reinterpret_cast<char*>(&pointer), 0), 1);
  EXPECT_EQ(Flen32(fbfr.get(), kPtr, 0), static_cast<long>(sizeof(char*)));
  char* back = nullptr;
  ASSERT_EQ(Fget32(fbfr.get(), kPtr, 0, reinterpret_cast<char*>(&back), nullptr), 1);
  EXPECT_EQ(back, target);
  ASSERT_EQ(Fchg32(fbfr.get(), kPtr, 2, reinterpret_cast<char*>(&pointer), 0), 1);
  char* gap = target;
  ASSERT_EQ(Fget32(fbfr.get(), kPtr, 1, reinterpret_cast<char*>(&gap), nullptr), 1);
  EXPECT_EQ(gap, nullptr);
  Ferror32 = 0;
  ExpectFerror(CFadd32(fbfr.get(), kPtr, Text("1"), 0, FLD_STRING) == -1, FEBADOP, "CFadd32 to ptr");

  // Printed as hexadecimal; reading the text back ignores it.
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(target)));
  const std::string printed = Printed(fbfr.get());
  EXPECT_EQ(printed, Id(kPtr) + "\t" + hex + "\n" + Id(kPtr) + "\t0x0\n" + Id(kPtr) + "\t" + hex + "\n\n");
  Fbfr read = Alloc();
  ASSERT_EQ(ReadText(read.get(), printed), 1);
  EXPECT_EQ(Fnum32(read.get()), 0);
}

TEST(Fml32Embedded, PrintedIndentedAndReadBack) {
  Fbfr deepest = Alloc();
  Fadd32(deepest.get(), kString, Text("deep\tvalue"), 0);
  Fbfr middle = Alloc();
  long number = 5;
  Fadd32(middle.get(), kLong, Raw(number), 0);
  Fadd32(middle.get(), kDeeper, AsValue(deepest.get()), 0);
  Fbfr outer = Alloc(30, 4000);
  Fadd32(outer.get(), kInner, AsValue(middle.get()), 0);
  Fadd32(outer.get(), kLong, Raw(number), 0);
  Fbfr empty = Alloc(1, 1);
  Fadd32(outer.get(), kDeeper, AsValue(empty.get()), 0);

  const std::string text = Printed(outer.get());
  EXPECT_EQ(text, Id(kLong) + "\t5\n" + Id(kInner) + "\t\n\t" + Id(kLong) + "\t5\n\t" + Id(kDeeper) + "\t\n\t\t" +
                      Id(kString) + "\tdeep\\09value\n\t\t\n\t\n" + Id(kDeeper) + "\t\n\t\n\n");

  Fbfr read = Alloc(30, 4000);
  ASSERT_EQ(ReadText(read.get(), text), 1);
  EXPECT_EQ(Printed(read.get()), text);
  // The end of the text closes what is open; "+" changes occurrence 0.
  ASSERT_EQ(ReadText(read.get(), "+" + Id(kInner) + "\t\n\t" + Id(kString) + "\tchanged\n\t\t# comment\n"), 1);
  auto* inner = reinterpret_cast<FBFR32*>(Ffind32(read.get(), kInner, 0, nullptr));
  EXPECT_EQ(Fnum32(inner), 1);
  EXPECT_STREQ(Fvals32(inner, kString, 0), "changed");

  // Bad text changes nothing.
  const std::string before = Printed(read.get());
  Ferror32 = 0;
  ExpectFerror(ReadText(read.get(), "\t" + Id(kLong) + "\t1\n") == -1, FSYNTAX, "indented without a buffer");
  ExpectFerror(ReadText(read.get(), Id(kInner) + "\tvalue\n") == -1, FSYNTAX, "a value on an fml32 line");
  ExpectFerror(ReadText(read.get(), Id(kInner) + "\t\n\t" + Id(kLong) + "\tx\n") == -1, FSYNTAX, "bad nested value");
  Fbfr small = Alloc(1, 8);
  ExpectFerror(ReadText(small.get(), Id(kInner) + "\t\n\t" + Id(kString) + "\t" + std::string(500, 'x') + "\n") == -1,
               FNOSPACE, "nested buffer too large for the target");
  EXPECT_EQ(Printed(read.get()), before);
  EXPECT_EQ(Fnum32(small.get()), 0);
}

// Raw images whose embedded buffers are damaged are refused, however deep.
TEST(Fml32Embedded, DamagedEmbeddedImagesAreRefused) {
  Fbfr deepest = Alloc();
  Fadd32(deepest.get(), kString, Text("abc"), 0);
  Fbfr middle = Alloc();
  Fadd32(middle.get(), kDeeper, AsValue(deepest.get()), 0);
  Fbfr outer = Alloc();
  Fadd32(outer.get(), kInner, AsValue(middle.get()), 0);
  const auto size = static_cast<std::size_t>(Fsizeof32(outer.get()));
  const auto* image = reinterpret_cast<const unsigned char*>(outer.get());
  const std::string bytes(reinterpret_cast<const char*>(image), size);
  const std::size_t text = bytes.find("abc");
  ASSERT_NE(text, std::string::npos);
  const std::size_t middleStart = 32 + 8;
  const std::size_t deepestStart = middleStart + 32 + 8;
  struct Damage {
    std::size_t at;
    unsigned char byte;
    const char* what;
  };
  for (const Damage& damage : {Damage{middleStart, 0x00, "magic of the embedded buffer"},
                               Damage{middleStart + 8, 0xFF, "end of the embedded buffer"},
                               Damage{deepestStart + 24, 0x07, "count two levels down"},
                               Damage{text + 3, 'x', "terminator of a string two levels down"}}) {
    std::vector<std::uint64_t> words(size / 8 + 1);
    std::memcpy(words.data(), bytes.data(), size);
    reinterpret_cast<unsigned char*>(words.data())[damage.at] = damage.byte;
    auto* copy = reinterpret_cast<FBFR32*>(words.data());
    EXPECT_EQ(Fielded32(copy), 0) << damage.what;
    Ferror32 = 0;
    ExpectFerror(Foccur32(copy, kInner) == -1, FNOTFLD, damage.what);
    Tx::Fml32Builtin::ForgetBlock(copy);
  }
  // Damage behind the engine's back, after the buffer was last seen: what
  // is read through the embedded value is refused, never trusted.
  auto* found = reinterpret_cast<unsigned char*>(Ffind32(outer.get(), kInner, 0, nullptr));
  found[32 + 8 + 24] = 0x09;  // count of the deepest buffer
  Ferror32 = 0;
  ExpectFerror(Fprint32(outer.get()) == -1, FNOTFLD, "Fprint32 of damaged nesting");
  std::vector<std::uint64_t> words(64);
  ExpectFerror(Fget32(reinterpret_cast<FBFR32*>(found), kDeeper, 0, reinterpret_cast<char*>(words.data()), nullptr) ==
                   -1,
               FNOTFLD, "Fget32 of a damaged embedded buffer");
}

// A long field changed at random places, checked against a vector.
TEST(Fml32LongFields, DeletesAnywhereKeepEveryOccurrenceInOrder) {
  constexpr long kCount = 5000;
  Fbfr fbfr = Alloc(static_cast<FLDOCC32>(2 * kCount + 200), 0);
  std::vector<long> expected;
  for (long i = 0; i < kCount; ++i) {
    ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(i), 0), 1);
    if (i % 50 == 0) {
      ASSERT_EQ(Fadd32(fbfr.get(), kOther, Raw(i), 0), 1);  // interleaved records
    }
    expected.push_back(i);
  }
  std::mt19937 random(12345);
  long next = kCount;
  const auto checkAll = [&](const char* when) {
    ASSERT_EQ(Foccur32(fbfr.get(), kLong), static_cast<FLDOCC32>(expected.size())) << when;
    for (std::size_t oc = 0; oc < expected.size(); ++oc) {
      ASSERT_EQ(LongAt(fbfr.get(), kLong, static_cast<FLDOCC32>(oc)), expected[oc]) << when << " at " << oc;
    }
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 oc = 0;
    std::size_t walked = 0;
    while (Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr) == 1) walked += id == kLong ? 1 : 0;
    ASSERT_EQ(walked, expected.size()) << when;
  };
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 700; ++i) {
      const auto oc = static_cast<FLDOCC32>(random() % expected.size());
      ASSERT_EQ(Fdel32(fbfr.get(), kLong, oc), 1);
      expected.erase(expected.begin() + oc);
      if (i % 3 == 0) {  // appends, and replacements that move the last one
        ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(next), 0), 1);
        expected.push_back(next++);
        const auto at = static_cast<FLDOCC32>(random() % expected.size());
        ASSERT_EQ(Fchg32(fbfr.get(), kLong, at, Raw(next), 0), 1);
        expected[static_cast<std::size_t>(at)] = next++;
      }
    }
    checkAll("after deletes");
  }
  // Filling the buffer squeezes the holes out; the order survives.
  while (Fadd32(fbfr.get(), kLong, Raw(next), 0) == 1) expected.push_back(next++);
  EXPECT_EQ(Ferror32, FNOSPACE);
  checkAll("after compaction");
  // The last occurrence and then everything from the front.
  ASSERT_EQ(Fdel32(fbfr.get(), kLong, static_cast<FLDOCC32>(expected.size() - 1)), 1);
  expected.pop_back();
  while (expected.size() > 10) {
    ASSERT_EQ(Fdel32(fbfr.get(), kLong, 0), 1);
    expected.erase(expected.begin());
  }
  checkAll("after deleting from the front");
  Fbfr copy = Alloc(static_cast<FLDOCC32>(2 * kCount + 200), 0);
  ASSERT_EQ(Fcpy32(copy.get(), fbfr.get()), 1);
  EXPECT_EQ(LongAt(copy.get(), kLong, 9), expected[9]);
  ASSERT_EQ(Fdelall32(fbfr.get(), kLong), 1);
  Ferror32 = 0;
  ExpectFerror(Fget32(fbfr.get(), kLong, 0, nullptr, nullptr) == -1, FNOTPRES, "after Fdelall32");
  EXPECT_EQ(Foccur32(fbfr.get(), kOther), 100);
}

}  // namespace
