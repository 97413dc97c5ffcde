// FML32 lookups that the engine answers from what it remembers of a block:
// walks that go on after the block changed under them, fields found while
// their number grows, and headers changed by hand after a write.
#include <functional>
#include <thread>

#include "../../../platform/tuxedo/builtin/fml32_block.h"
#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kA = Fmkfldid32(FLD_LONG, 401);
const FLDID32 kB = Fmkfldid32(FLD_LONG, 402);
const FLDID32 kC = Fmkfldid32(FLD_LONG, 403);
const FLDID32 kD = Fmkfldid32(FLD_STRING, 404);

void AddLong(FBFR32* fbfr, FLDID32 id, long value) { ASSERT_EQ(Fadd32(fbfr, id, Raw(value), 0), 1); }

// The rest of a walk that starts after (id, oc).
std::vector<std::pair<FLDID32, FLDOCC32>> WalkOn(FBFR32* fbfr, FLDID32 id, FLDOCC32 oc) {
  std::vector<std::pair<FLDID32, FLDOCC32>> seen;
  while (Fnext32(fbfr, &id, &oc, nullptr, nullptr) == 1 && seen.size() < 1000) seen.emplace_back(id, oc);
  return seen;
}
using Steps = std::vector<std::pair<FLDID32, FLDOCC32>>;

TEST(Fml32Index, WalksGoOnFromWhereTheyStoodAfterTheBlockChanged) {
  Fbfr fbfr(Falloc32(20, 400));
  Fbfr other(Falloc32(20, 400));
  for (const FLDID32 id : {kA, kA, kA, kB, kB, kC}) AddLong(fbfr.get(), id, 1);
  AddLong(other.get(), kA, 2);
  AddLong(other.get(), kC, 2);
  // Interleaved with a walk over another block, each keeps its own place.
  FLDID32 id = kA;
  FLDOCC32 oc = 0;
  FLDID32 otherId = FIRSTFLDID;
  FLDOCC32 otherOc = 0;
  ASSERT_EQ(Fnext32(other.get(), &otherId, &otherOc, nullptr, nullptr), 1);
  ASSERT_EQ(Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr), 1);
  ASSERT_EQ(Fnext32(other.get(), &otherId, &otherOc, nullptr, nullptr), 1);
  EXPECT_EQ(std::make_pair(id, oc), std::make_pair(kA, 1));
  EXPECT_EQ(std::make_pair(otherId, otherOc), std::make_pair(kC, 0));

  // The field being walked loses all its occurrences, then one before it.
  ASSERT_EQ(Fdelall32(fbfr.get(), kA), 1);
  EXPECT_EQ(WalkOn(fbfr.get(), kA, 1), (Steps{{kB, 0}, {kB, 1}, {kC, 0}}));
  ASSERT_EQ(Fdel32(fbfr.get(), kB, 0), 1);
  EXPECT_EQ(WalkOn(fbfr.get(), kB, 0), (Steps{{kC, 0}}));
  // A field changed back to three occurrences by Fchg32 beyond its last.
  long value = 5;
  ASSERT_EQ(Fchg32(fbfr.get(), kA, 2, Raw(value), 0), 1);
  EXPECT_EQ(WalkOn(fbfr.get(), kA, 0), (Steps{{kA, 1}, {kA, 2}, {kB, 0}, {kC, 0}}));

  // Whole contents replaced, in the middle of a walk, by Fcpy32 and by a
  // raw copy of another block.
  id = kA;
  oc = 0;
  ASSERT_EQ(Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr), 1);
  ASSERT_EQ(Fcpy32(fbfr.get(), other.get()), 1);
  EXPECT_EQ(WalkOn(fbfr.get(), id, oc), (Steps{{kC, 0}}));
  Fbfr third(Falloc32(20, 400));
  AddLong(third.get(), kB, 3);
  AddLong(third.get(), kB, 4);
  id = FIRSTFLDID;
  ASSERT_EQ(Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr), 1);
  std::memcpy(fbfr.get(), third.get(), static_cast<std::size_t>(Fsizeof32(third.get())));
  EXPECT_EQ(WalkOn(fbfr.get(), id, oc), (Steps{{kB, 0}, {kB, 1}}));
  EXPECT_EQ(Fvall32(fbfr.get(), kB, 1), 4);
}

// New fields added during a walk, behind its position, are met in turn,
// however often the engine has to make room for more fields.
TEST(Fml32Index, FieldsAddedDuringAWalkAreMetInTurn) {
  Fbfr fbfr(Falloc32(200, 4000));
  AddLong(fbfr.get(), Fmkfldid32(FLD_LONG, 1), 0);
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  FLDID32 number = 0;
  while (Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr) == 1) {
    ASSERT_EQ(id, Fmkfldid32(FLD_LONG, ++number));
    if (number < 150) AddLong(fbfr.get(), Fmkfldid32(FLD_LONG, number + 1), number);
  }
  EXPECT_EQ(number, 150u);
}

TEST(Fml32Index, EveryFieldIsFoundWhileTheirNumberGrows) {
  Fbfr fbfr(Falloc32(1000, 16000));
  // Numbers far apart and the same number under several types.
  const auto idOf = [](int k) {
    const int types[] = {FLD_LONG, FLD_SHORT, FLD_DOUBLE};
    return Fmkfldid32(types[k % 3], static_cast<FLDID32>(1 + (k / 3) * 4096));
  };
  for (int k = 0; k < 300; ++k) {
    const FLDID32 id = idOf(k);
    long value = k;
    ASSERT_EQ(CFadd32(fbfr.get(), id, Raw(value), 0, FLD_LONG), 1) << k;
    ASSERT_EQ(CFadd32(fbfr.get(), id, Raw(value), 0, FLD_LONG), 1) << k;
    ASSERT_EQ(Foccur32(fbfr.get(), idOf(0)), 2) << k;
    long first = -1;
    FLDLEN32 len = sizeof first;
    ASSERT_EQ(CFget32(fbfr.get(), idOf(k / 2), 1, Raw(first), &len, FLD_LONG), 1) << k;
    EXPECT_EQ(first, k / 2);
  }
  EXPECT_EQ(Foccur32(fbfr.get(), Fmkfldid32(FLD_FLOAT, 1)), 0);
  EXPECT_EQ(Fnum32(fbfr.get()), 600);
}

// A write leaves a header that the next call checks; whatever is changed
// in it by hand afterwards is noticed.
TEST(Fml32Index, HeadersChangedByHandAfterAWriteAreRefused) {
  using Header = Tx::Fml32Builtin::BlockHeader;
  Fbfr fbfr(Falloc32(10, 200));
  AddLong(fbfr.get(), kA, 1);
  const std::string image(reinterpret_cast<char*>(fbfr.get()), static_cast<std::size_t>(Fsizeof32(fbfr.get())));
  const auto restore = [&] { std::memcpy(fbfr.get(), image.data(), image.size()); };
  auto* header = reinterpret_cast<Header*>(fbfr.get());
  const std::vector<std::pair<const char*, std::function<void()>>> scribbles = {
      {"end past the size", [&] { header->end = header->size + 8; }},
      {"end before the record", [&] { header->end -= 8; }},
      {"a hole that is not there", [&] { header->holeBytes = 16; }},
      {"one more occurrence", [&] { ++header->count; }},
      {"reserved", [&] { header->reserved = 1; }},
  };
  for (const auto& [what, scribble] : scribbles) {
    restore();
    AddLong(fbfr.get(), kB, 2);  // the write just before
    scribble();
    ExpectFerror(Fget32(fbfr.get(), kA, 0, nullptr, nullptr) == -1, FNOTFLD, what);
    ExpectFerror(Foccur32(fbfr.get(), kB) == -1, FNOTFLD, what);
  }
  // The record itself rewritten in an image of the same state: the value's
  // length no longer fits its type.
  restore();
  AddLong(fbfr.get(), kB, 2);
  auto* record = reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(fbfr.get()) + sizeof(Header));
  record[1] = 4;
  ExpectFerror(Fvall32(fbfr.get(), kA, 0) == 0, FNOTFLD, "record length");
  restore();
  EXPECT_EQ(Fvall32(fbfr.get(), kA, 0), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kB), 0);
}

// Values moved from one buffer to another, call by call, while other
// buffers come and go and while one is overwritten by a copy of the other.
TEST(Fml32Index, ValuesMoveBetweenTwoBuffersCallByCall) {
  const FLDID32 kEmbedded = Fmkfldid32(FLD_FML32, 405);
  std::vector<Fbfr> others;
  for (long i = 0; i < 20; ++i) {
    others.emplace_back(Falloc32(1, 8));
    AddLong(others.back().get(), kC, i);
  }
  Fbfr from(Falloc32(100, 800));
  Fbfr to(Falloc32(100, 2000));
  for (long i = 0; i < 50; ++i) AddLong(from.get(), kA, i);
  for (FLDOCC32 oc = 0; oc < 50; ++oc) {
    long value = -1;
    ASSERT_EQ(Fget32(from.get(), kA, oc, Raw(value), nullptr), 1);
    ASSERT_EQ(Fadd32(to.get(), kB, Raw(value), 0), 1);
    if (oc % 10 == 9) {
      const auto other = static_cast<std::size_t>(oc / 10);
      ASSERT_EQ(Fvall32(others[other].get(), kC, 0), static_cast<long>(other));
      ASSERT_EQ(Fadd32(to.get(), kEmbedded, reinterpret_cast<char*>(others[other + 10].get()), 0), 1);
    }
  }
  for (FLDOCC32 oc = 0; oc < 50; ++oc) ASSERT_EQ(Fvall32(to.get(), kB, oc), oc);
  FBFR32* embedded = reinterpret_cast<FBFR32*>(Ffind32(to.get(), kEmbedded, 4, nullptr));
  ASSERT_NE(embedded, nullptr);
  EXPECT_EQ(Fvall32(embedded, kC, 0), 14);
  // The target overwritten by an image of the source between two calls
  // that each open both.
  long value = 0;
  ASSERT_EQ(Fget32(from.get(), kA, 7, Raw(value), nullptr), 1);
  std::memcpy(to.get(), from.get(), static_cast<std::size_t>(Fsizeof32(from.get())));
  EXPECT_EQ(Foccur32(to.get(), kB), 0);
  EXPECT_EQ(Fvall32(to.get(), kA, 49), 49);
  EXPECT_EQ(Fvall32(from.get(), kA, 49), 49);
}

// Each thread keeps what it knows of a block to itself: several threads
// reading one block while writing their own.
TEST(Fml32Index, ThreadsReadOneBlockWhileEachWritesItsOwn) {
  Fbfr shared(Falloc32(200, 2000));
  for (long i = 0; i < 100; ++i) AddLong(shared.get(), i % 2 == 0 ? kA : kB, i);
  ASSERT_EQ(Fadd32(shared.get(), kD, Text("shared"), 0), 1);
  std::vector<int> failures(3, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      Fbfr own(Falloc32(100, 1000));
      for (int round = 0; round < 200; ++round) {
        long value = round;
        if (Fchg32(own.get(), kC, round % 50, Raw(value), 0) != 1) ++failures[t];
        if (Fvall32(shared.get(), kB, round % 50) != 2 * (round % 50) + 1) ++failures[t];
        if (WalkOn(shared.get(), FIRSTFLDID, 0).size() != 101) ++failures[t];
        if (Fvall32(own.get(), kC, round % 50) != round) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(3, 0));
}

}  // namespace
