// Field definitions, contracts and the buffer object of TxFbfr.
#include "buffer/TxFbfr.h"
#include "buffer_test_support.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace Tx {
namespace {

const FLDID32 kLong = Fmkfldid32(FLD_LONG, 201);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 202);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 203);
const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 204);


// An owner whose reading flag the tests switch.
class Owner : public TComponent {
 public:
  Owner() : TComponent(nullptr) {}
};

// ---- Field definitions ---------------------------------------------------------

TEST(FldDefSetters, LogicalTypeTestsTheFieldType) {
  TTxFbfrDef defs(nullptr);
  TTxFbfrFldDef* def = defs.AddFldDef(kString);
  EXPECT_EQ(MessageOf<EPropertyError>([&] { def->SetLogicalType(txlftDate); }),
            "Logiczny typ pola txlftDate może być ustawiony tylko dla pola LONG"_ansi);
  EXPECT_EQ(def->GetLogicalType(), txlftDefault);
  EXPECT_THROW(def->SetLogicalType(txlftGraphic), EPropertyError);
  def->SetLogicalType(txlftMemo);
  def->SetLogicalType(txlftDateTime);
  EXPECT_EQ(def->GetLogicalType(), txlftDateTime);

  TTxFbfrFldDef* number = defs.AddFldDef(kShort);
  EXPECT_THROW(number->SetLogicalType(txlftMemo), EPropertyError);
  number->SetLogicalType(txlftTime);  // accepted for every type
  EXPECT_EQ(number->GetLogicalType(), txlftTime);
}

TEST(FldDefSetters, DateOnLongNormalisesMaxSize) {
  Owner owner;
  TTxFbfrDef defs(&owner);
  TTxFbfrFldDef* def = static_cast<TTxFbfrFldDef*>(defs.Add());
  def->SetTxFldId(kLong);
  owner.SetReading(true);
  def->SetMaxSize(80);  // stored as read
  owner.SetReading(false);
  EXPECT_EQ(def->GetMaxSize(), 80);
  def->SetLogicalType(txlftDate);
  EXPECT_EQ(def->GetMaxSize(), 0);
  EXPECT_EQ(def->GetLogicalType(), txlftDate);
}

TEST(FldDefSetters, MaxSizeDependsOnTypeUnlessReading) {
  Owner parent;
  Owner* owner = new Owner();
  parent.InsertComponent(owner);
  TTxFbfrDef defs(owner);
  auto* number = static_cast<TTxFbfrFldDef*>(defs.Add());
  number->SetTxFldId(kLong);
  auto* text = static_cast<TTxFbfrFldDef*>(defs.Add());
  text->SetTxFldId(kString);
  number->SetMaxSize(80);
  text->SetMaxSize(80);
  EXPECT_EQ(number->GetMaxSize(), 0);
  EXPECT_EQ(text->GetMaxSize(), 80);
  parent.SetReading(true);  // the owner's own owner being read also counts
  number->SetMaxSize(80);
  number->SetLogicalType(txlftGraphic);  // no type test while reading
  EXPECT_EQ(number->GetMaxSize(), 80);
  EXPECT_EQ(number->GetLogicalType(), txlftGraphic);
  parent.SetReading(false);
}

TEST(FldDefSetters, NegativeSizeOrGroupIsRefused) {
  TTxFbfrDef defs(nullptr);
  TTxFbfrFldDef* def = defs.AddFldDef(kString);
  def->SetMaxSize(10);
  def->SetGroup(2);
  for (auto set : {+[](TTxFbfrFldDef* d) { d->SetMaxSize(-1); },
                   +[](TTxFbfrFldDef* d) { d->SetGroup(-1); }}) {
    EXPECT_EQ(MessageOf<EPropertyError>([&] { set(def); }),
              "Dopuszczalne są tylko wartości nieujemne"_ansi);
  }
  EXPECT_EQ(def->GetMaxSize(), 10);
  EXPECT_EQ(def->GetGroup(), 2);
}

TEST(FldDefDisplay, NamesTypeNumberAndId) {
  TTxFbfrDef defs(nullptr);
  TTxFbfrFldDef* def = static_cast<TTxFbfrFldDef*>(defs.Add());
  def->SetTxFldName("Nazwisko");
  EXPECT_EQ(def->GetDisplayName(), AnsiString("Nazwisko  ( ?,#?,<0> )"));
  def->SetTxFldId(kString);
  EXPECT_EQ(def->GetDisplayName(),
            AnsiString("Nazwisko ( string,#202,<") + AnsiString(static_cast<long>(kString)) + "> )");
  def->SetTxFldId(static_cast<long>((100UL << 25) | 5));  // a type FML32 does not know
  def->GetDisplayName();
  EXPECT_EQ(Ferror32, 0);
}

TEST(FldDefCollections, LookupsAndAddFldDef) {
  TTxFbfrDef defs(nullptr);
  TTxFbfrFldDef* first = defs.AddFldDef(kString);
  first->SetTxFldName("Nazwisko");
  TTxFbfrFldDef* second = defs.AddFldDef(kLong);
  second->SetTxFldName("nazwisko");
  EXPECT_EQ(defs.FindFldDefByName("NAZWISKO"), first);
  EXPECT_EQ(defs.FindFldDefByName("ŻÓŁW"_ansi), nullptr);
  EXPECT_EQ(defs.FindFldDefById(kLong), second);
  EXPECT_EQ(defs.FindFldDefById(kShort), nullptr);

  first->SetMaxSize(7);
  EXPECT_EQ(defs.AddFldDef(kString), first);  // unchanged
  EXPECT_EQ(first->GetMaxSize(), 7);
  EXPECT_EQ(first->GetTxFldName(), AnsiString("Nazwisko"));

  TTxFbfrFldDef* added = defs.AddFldDef(kCarray);
  EXPECT_EQ(added->GetTxFldName(), AnsiString(static_cast<unsigned long>(kCarray)));
  EXPECT_EQ(added->GetMaxSize(), 1024);
  EXPECT_EQ(added->GetOccMax(), -1);
  EXPECT_EQ(added->GetOccMin(), 0);
  EXPECT_EQ(defs.AddFldDef(kShort)->GetMaxSize(), 0);
}

// Every attribute of a definition, as one comparable text.
std::string Attributes(const TTxFbfrFldDef* d) {
  return d->GetTxFldName().str() + "|" + std::to_string(d->GetTxFldId()) + "|" +
         std::to_string(d->GetOccMin()) + "|" + std::to_string(d->GetOccMax()) + "|" +
         std::to_string(d->GetMaxSize()) + "|" + std::to_string(d->GetGroup()) + "|" +
         std::to_string(d->GetLogicalType()) + "|" + std::to_string(d->GetAssignSerial());
}

TEST(FldDefCollections, AssignCopiesEveryAttribute) {
  TTxFbfrDef source(nullptr);
  TTxFbfrFldDef* def = source.AddFldDef(kString);
  def->SetTxFldName("Opis");
  def->SetOccMin(1);
  def->SetOccMax(3);
  def->SetMaxSize(40);
  def->SetGroup(2);
  def->SetLogicalType(txlftMemo);
  def->SetAssignSerial(true);
  TTxFbfrDef copy(nullptr);
  copy.AddFldDef(kLong);
  copy.Assign(&source);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(Attributes(copy.GetFldDef(0)), Attributes(def));
}

TEST(FldDefCollections, FillUsingGivesOneDefinitionPerFieldInWalkOrder) {
  TTxFbfr buffer(nullptr, 4096);
  AddString(buffer, kString, "a");
  AddString(buffer, kString, "b");
  AddString(buffer, kString, "c");
  AddLong(buffer, kLong, 1);
  TTxFbfrDef defs(nullptr);
  defs.FillUsing(buffer.GetFbfrP());
  ASSERT_EQ(defs.Count(), 2);
  EXPECT_EQ(defs.GetFldDef(0)->GetTxFldId(), static_cast<long>(kLong));  // lower id first
  EXPECT_EQ(defs.GetFldDef(1)->GetTxFldId(), static_cast<long>(kString));
}

// ---- The buffer object ----------------------------------------------------------

// A buffer of at least 1024 bytes (the smallest FML32 buffer) whose unused
// space is exactly `unused` bytes: a filler value takes up the rest.
std::unique_ptr<TTxFbfr> BufferWithUnused(long unused) {
  constexpr int kFiller = 2000;
  TTxFbfr probe(nullptr, 8192);
  const long emptyUnused = Funused32(probe.GetFbfrP());
  AddBytes(probe, kCarray, kFiller);
  const long fillerTakes = emptyUnused - Funused32(probe.GetFbfrP());
  const long overhead = probe.GetFbfrSize() - emptyUnused;
  auto buffer = std::make_unique<TTxFbfr>(nullptr, static_cast<int>(overhead + fillerTakes + unused));
  AddBytes(*buffer, kCarray, kFiller);
  return buffer;
}

TEST(FbfrGrowth, EqualUnusedSpaceGrowsOneMoreByteDoesNot) {
  const long need = Fneeded32(1, 100);
  auto equal = BufferWithUnused(need);
  ASSERT_EQ(Funused32(equal->GetFbfrP()), need);
  const long before = equal->GetFbfrSize();
  equal->EnsureSpace(kCarray, -1, 100);
  EXPECT_EQ(equal->GetFbfrSize(), before + 4096);
  EXPECT_EQ(equal->OccLength(kCarray, 0), 2000);  // contents moved along

  auto roomy = BufferWithUnused(need + 1);
  ASSERT_EQ(Funused32(roomy->GetFbfrP()), need + 1);
  const long roomyBefore = roomy->GetFbfrSize();
  FBFR32* const address = roomy->GetFbfrP();
  roomy->EnsureSpace(kCarray, -1, 100);
  EXPECT_EQ(roomy->GetFbfrSize(), roomyBefore);
  EXPECT_EQ(roomy->GetFbfrP(), address);
}

TEST(FbfrGrowth, ZeroLengthNeitherQueriesNorGrows) {
  EXPECT_EQ(TTxFbfr(nullptr, -1).GetFbfrSize(), 1024);  // asks for 1000; FML32's least is 1024
  auto full = BufferWithUnused(0);
  const long size = full->GetFbfrSize();
  Ferror32 = 0;
  full->EnsureSpace(kString, 0, 0);
  EXPECT_EQ(full->GetFbfrSize(), size);
  EXPECT_EQ(Ferror32, 0);
}

TEST(FbfrGrowth, LargeValueGrowsByExactlyItsNeed) {
  TTxFbfr buffer(nullptr, 4096);
  const long need = Fneeded32(1, 10000);
  const long before = buffer.GetFbfrSize();
  buffer.EnsureSpace(kCarray, -1, 10000);
  EXPECT_EQ(buffer.GetFbfrSize(), before + need);
  AddBytes(buffer, kCarray, 10000);  // and the value then fits
}

TEST(FbfrGrowth, ReplacementCountsTheOldLength) {
  const long need = Fneeded32(1, 60) - 50;
  TTxFbfr probe(nullptr, 4096);
  const long emptyUnused = Funused32(probe.GetFbfrP());
  AddBytes(probe, kCarray, 50);
  const long fiftyTakes = emptyUnused - Funused32(probe.GetFbfrP());
  auto tight = BufferWithUnused(fiftyTakes + need + 1);
  AddBytes(*tight, kCarray, 50);  // occurrence 1
  ASSERT_EQ(Funused32(tight->GetFbfrP()), need + 1);
  const long size = tight->GetFbfrSize();
  tight->EnsureSpace(kCarray, 1, 60);  // replacing 50 bytes by 60 fits
  EXPECT_EQ(tight->GetFbfrSize(), size);
  tight->EnsureSpace(kCarray, 2, 60);  // occurrence 2 is absent: a whole new value
  EXPECT_EQ(Ferror32, 0);
  EXPECT_EQ(tight->GetFbfrSize(), size + 4096);
}

TEST(FbfrGrowth, ContentsSurviveGrowth) {
  TTxFbfr buffer(nullptr, 1000);
  for (long i = 0; i < 2000; ++i) {
    buffer.EnsureSpace(kLong, -1, sizeof(long));
    AddLong(buffer, kLong, i);
  }
  ASSERT_EQ(buffer.OccCount(kLong), 2000);
  EXPECT_EQ(FieldLong(buffer.GetFbfrP(), kLong, 1999), 1999);
}

TEST(FbfrSize, TooSmallKeepsTheOldBufferAndContents) {
  TTxFbfr buffer(nullptr, 4096);
  AddBytes(buffer, kCarray, 2000);
  FBFR32* const address = buffer.GetFbfrP();
  try {
    buffer.SetFbfrSize(1024);
    FAIL() << "no exception";
  } catch (const ETxFmlError& e) {
    EXPECT_EQ(e.Ferror, FNOSPACE);
    EXPECT_NE(e.Message.Pos("Kopiowanie istniejącej zawartości bufora"_ansi), 0);
  }
  EXPECT_EQ(buffer.GetFbfrP(), address);
  EXPECT_EQ(buffer.GetFbfrSize(), 4096);
  EXPECT_EQ(buffer.OccLength(kCarray, 0), 2000);
}

TEST(FbfrAssignment, EqualSizesKeepTheAddressOthersTakeTheSourceSize) {
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(kString);
  TTxFbfr source(nullptr, 4096);
  source.Contract = &contract;
  AddString(source, kString, "abc");
  source.SyncFbfrDef();

  TTxFbfr same(nullptr, 4096);
  FBFR32* const address = same.GetFbfrP();
  same = source;
  EXPECT_EQ(same.GetFbfrP(), address);
  EXPECT_STREQ(FieldString(same.GetFbfrP(), kString, 0), "abc");
  EXPECT_EQ(same.Contract, &contract);

  TTxFbfr other(nullptr, 1000);
  other.ReadOnly = true;
  other = source;
  EXPECT_EQ(other.GetFbfrSize(), 4096);
  EXPECT_TRUE(other.ReadOnly);  // not copied
  other.Contract = nullptr;
  EXPECT_EQ(other.FindFieldId(AnsiString(static_cast<unsigned long>(kString))), kString);
}

TEST(FbfrOccurrences, LengthsPointersAndAbsence) {
  TTxFbfr buffer(nullptr, 4096);
  AddString(buffer, kString, "abc");
  AddLong(buffer, kLong, 5);
  EXPECT_EQ(buffer.OccLength(kString, 0), 4);
  EXPECT_EQ(buffer.ValueLength(kString, 0), 3);
  EXPECT_EQ(buffer.ValueLength(kLong, 0), static_cast<int>(sizeof(long)));
  EXPECT_EQ(buffer.OccLength(kString, 1), -1);
  EXPECT_EQ(buffer.ValueLength(kString, 1), -1);
  EXPECT_EQ(Ferror32, 0);
  EXPECT_STREQ(buffer.GetValuePtr(kString, 0), "abc");
  try {
    buffer.GetValuePtr(kString, 1);
    FAIL() << "no exception";
  } catch (const ETxFmlError& e) {
    EXPECT_EQ(e.Ferror, FNOTPRES);
    EXPECT_NE(e.Message.Pos("Pobranie wskazania na wartość pola"_ansi), 0);
  }
  EXPECT_EQ(buffer.OccCount(kCarray), 0);
}

TEST(FbfrDeletion, DeleteShiftsAndDeleteAllEmpties) {
  TTxFbfr buffer(nullptr, 4096);
  AddString(buffer, kString, "a");
  AddString(buffer, kString, "b");
  AddString(buffer, kString, "c");
  AddLong(buffer, kLong, 1);
  AddBytes(buffer, kCarray, 3);
  buffer.DeleteOcc(kString, 0);
  EXPECT_STREQ(FieldString(buffer.GetFbfrP(), kString, 0), "b");
  EXPECT_THROW(buffer.DeleteAllOcc(kShort), ETxFmlError);
  buffer.DeleteAllOcc(kString);
  EXPECT_EQ(buffer.OccCount(kString), 0);
  buffer.SyncFbfrDef();
  buffer.DeleteAllOcc(0);
  EXPECT_EQ(Fnum32(buffer.GetFbfrP()), 0);
  EXPECT_NO_THROW(buffer.DeleteAllOcc(0));  // an empty buffer: nothing to do
  buffer.Clear();
  EXPECT_EQ(buffer.GetFldDefs()->Count(), 0);
}

TEST(FbfrDeletion, ReadOnlyRefusesAndKeepsContents) {
  TTxFbfr buffer(nullptr, 4096);
  AddString(buffer, kString, "a");
  buffer.SyncFbfrDef();
  buffer.ReadOnly = true;
  for (auto attempt : {+[](TTxFbfr& b) { b.Clear(); }, +[](TTxFbfr& b) { b.DeleteAllOcc(0); },
                       +[](TTxFbfr& b) { b.DeleteOcc(kString, 0); }}) {
    try {
      attempt(buffer);
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, AnsiString("Read-only TTxFbfr"));
    }
  }
  EXPECT_EQ(buffer.OccCount(kString), 1);
  EXPECT_EQ(buffer.GetFldDefs()->Count(), 1);
}

TEST(FbfrNames, LookupsIgnoreCaseAndFollowTheLastSynchronisation) {
  TTxFbfr buffer(nullptr, 4096);
  AddString(buffer, kString, "a");
  const AnsiString stringName(static_cast<unsigned long>(kString));
  EXPECT_EQ(buffer.FindFieldId(stringName), 0UL);  // not yet synchronised
  buffer.SyncFbfrDef();
  EXPECT_EQ(buffer.FindFieldId(stringName), kString);
  EXPECT_EQ(buffer.FindFieldName(kString), stringName);
  EXPECT_EQ(buffer.OccCount(stringName), 1);

  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(kLong)->SetTxFldName("Kwota");
  buffer.Contract = &contract;  // a contract decides the names from now on
  EXPECT_EQ(buffer.FieldIdByName("KWOTA"), kLong);
  EXPECT_EQ(MessageOf<ETxError>([&] { buffer.FieldIdByName("Saldo"); }),
            "Nie znaleziono pola Saldo w buforze FML."_ansi);
  EXPECT_EQ(MessageOf<ETxError>([&] { buffer.FieldNameById(kString); }),
            "Pole ("_ansi + AnsiString(static_cast<unsigned long>(kString)) +
                             ") nie zostało znalezione w definicji bufora !"_ansi);
  TTxFbfrDef empty(nullptr);
  buffer.Contract = &empty;  // an empty contract does not count
  EXPECT_EQ(buffer.FindFieldId(stringName), kString);
}

}  // namespace
}  // namespace Tx
