#include "buffer/TxFbfr.h"

#include <atmi.h>

#include <algorithm>
#include <cstdint>

#include "platform/framework/TextCompare.h"

namespace Tx {
namespace {

// Operation texts of the growth rule, made once when the unit is loaded.
const AnsiString kOpFieldSize = "Pobranie informacji o rozmiarze pola FML"_ansi;
const AnsiString kOpNeededSpace = "Pobranie informacji o wymaganym miejscu dla wartości"_ansi;
const AnsiString kOpUnusedSpace = "Pobranie informacji o nieużywanym miejscu w buforze"_ansi;

constexpr int kDefaultSize = 1000;
constexpr long kMinimumGrowth = 4096;

// Field ids are compared on their 32 bits whatever the width of long.
bool SameFieldId(long stored, unsigned long id) {
  return static_cast<std::uint32_t>(stored) == static_cast<std::uint32_t>(id);
}

struct TpFreeDeleter {
  void operator()(FBFR32* fbfr) const noexcept { tpfree(reinterpret_cast<char*>(fbfr)); }
};
using OwnedFbfr = std::unique_ptr<FBFR32, TpFreeDeleter>;

OwnedFbfr AllocateFml32(long size) {
  return OwnedFbfr(reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, size)));
}

[[noreturn]] void PropertyErrorNonNegative() {
  throw EPropertyError("Dopuszczalne są tylko wartości nieujemne"_ansi);
}

}  // namespace

// ---- TTxFbfrFldDef -------------------------------------------------------------

TTxFbfrFldDef::TTxFbfrFldDef(TCollection* Collection) : TCollectionItem(Collection) {}

unsigned char TTxFbfrFldDef::GetTxFldType() const {
  const int type = Fldtype32(static_cast<FLDID32>(FTxFldId));
  if (Ferror32 != 0) CheckFerror(AnsiString(), static_cast<std::uint32_t>(FTxFldId));
  return static_cast<unsigned char>(type);
}

void TTxFbfrFldDef::SetLogicalType(TTxFldLogicalType Value) {
  if (InReadingState()) {
    FLogicalType = Value;
    return;
  }
  const unsigned char type = GetTxFldType();
  switch (Value) {
    case txlftDate:
      if (type != FLD_LONG)
        throw EPropertyError("Logiczny typ pola txlftDate może być ustawiony tylko dla pola LONG"_ansi);
      break;
    case txlftDateTime:
      if (type != FLD_STRING)
        throw EPropertyError(
            "Logiczny typ pola txlftDateTime może być ustawiony tylko dla pola STRING"_ansi);
      break;
    case txlftMemo:
      if (type != FLD_STRING && type != FLD_CARRAY)
        throw EPropertyError(
            "Logiczny typ pola txlftMemo może być ustawiony tylko dla pola STRING lub CARRAY"_ansi);
      break;
    case txlftGraphic:
      if (type != FLD_CARRAY)
        throw EPropertyError(
            "Logiczny typ pola txlftGraphic może być ustawiony tylko dla pola CARRAY"_ansi);
      break;
    case txlftDefault:
    case txlftTime:
      break;
  }
  SetMaxSize(FMaxSize);
  FLogicalType = Value;
}

void TTxFbfrFldDef::SetMaxSize(int Value) {
  if (Value < 0) PropertyErrorNonNegative();
  // Numeric fields have a fixed size, so a limit means nothing for them.
  if (!InReadingState() && GetTxFldType() < FLD_STRING) Value = 0;
  FMaxSize = Value;
}

void TTxFbfrFldDef::SetGroup(int Value) {
  if (Value < 0) PropertyErrorNonNegative();
  FGroup = Value;
}

TComponent* TTxFbfrFldDef::GetComponentOwner() const {
  TCollection* collection = Collection();
  if (collection == nullptr) return nullptr;
  return dynamic_cast<TComponent*>(collection->Owner());
}

bool TTxFbfrFldDef::InReadingState() const {
  const TComponent* owner = GetComponentOwner();
  if (owner == nullptr) return false;
  if (owner->ComponentState().Contains(csReading)) return true;
  const TComponent* ownersOwner = owner->Owner();
  return ownersOwner != nullptr && ownersOwner->ComponentState().Contains(csReading);
}

AnsiString TTxFbfrFldDef::GetDisplayName() const {
  if (FTxFldId == 0) return FTxFldName + "  ( ?,#?,<0> )";
  const FLDID32 id = static_cast<FLDID32>(FTxFldId);
  const char* typeName = Ftype32(id);
  const long number = Fldno32(id);
  AnsiString text = FTxFldName + " ( " + AnsiString(typeName ? typeName : "") + ",#" +
                    AnsiString(number) + ",<" + AnsiString(static_cast<std::int32_t>(FTxFldId)) +
                    "> )";
  Ferror32 = 0;
  return text;
}

void TTxFbfrFldDef::AssignTo(TPersistent* Dest) {
  if (Dest != nullptr && typeid(*Dest) == typeid(TTxFbfrFldDef)) {
    *static_cast<TTxFbfrFldDef*>(Dest) = *this;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

TTxFbfrFldDef& TTxFbfrFldDef::operator=(const TTxFbfrFldDef& Source) {
  FTxFldName = Source.FTxFldName;
  FTxFldId = Source.FTxFldId;
  FOccMin = Source.FOccMin;
  FOccMax = Source.FOccMax;
  FMaxSize = Source.FMaxSize;
  FGroup = Source.FGroup;
  FLogicalType = Source.FLogicalType;
  FAssignSerial = Source.FAssignSerial;
  return *this;
}

// ---- TTxFbfrDef ----------------------------------------------------------------

TTxFbfrDef::TTxFbfrDef(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TCollectionItemClass::Of<TTxFbfrFldDef>()) {}

TTxFbfrFldDef* TTxFbfrDef::GetFldDef(int Index) const {
  return static_cast<TTxFbfrFldDef*>(Items(Index));
}

TTxFbfrFldDef* TTxFbfrDef::FindFldDefById(unsigned long Id) const {
  for (int i = 0; i < Count(); ++i) {
    TTxFbfrFldDef* def = GetFldDef(i);
    if (SameFieldId(def->GetTxFldId(), Id)) return def;
  }
  return nullptr;
}

TTxFbfrFldDef* TTxFbfrDef::FindFldDefByName(const AnsiString& Name) const {
  for (int i = 0; i < Count(); ++i) {
    TTxFbfrFldDef* def = GetFldDef(i);
    if (AnsiCompareText(def->GetTxFldName(), Name) == 0) return def;
  }
  return nullptr;
}

TTxFbfrFldDef* TTxFbfrDef::AddFldDef(unsigned long Id) {
  if (TTxFbfrFldDef* existing = FindFldDefById(Id)) return existing;
  auto* def = static_cast<TTxFbfrFldDef*>(Add());
  def->SetTxFldId(static_cast<long>(static_cast<std::uint32_t>(Id)));
  def->SetTxFldName(AnsiString(Id));
  def->SetMaxSize(1024);
  return def;
}

void TTxFbfrDef::FillUsing(FBFR32* Fbfr) {
  Clear();
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(Fbfr, &id, &occ, nullptr, nullptr) > 0) AddFldDef(id);
}

// ---- TTxFbfr: life cycle -----------------------------------------------------

TTxFbfr::TTxFbfr(TPersistent* AOwner, int ASize) : FOwner(AOwner) {
  const long size = ASize == -1 ? kDefaultSize : ASize;
  tperrno = 0;
  FFbfr = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, size));
  if (FFbfr == nullptr) {
    CheckTperrno(AnsiString());
    throw Exception("ERROR!!!"_ansi);
  }
  FFbfrDef = std::make_unique<TTxFbfrDef>(nullptr);
  SyncFbfrDef();
}

TTxFbfr::~TTxFbfr() {
  if (FFbfr != nullptr) tpfree(reinterpret_cast<char*>(FFbfr));
}

TTxFbfr& TTxFbfr::operator=(TTxFbfr& Source) {
  if (&Source == this) return *this;
  if (GetFbfrSize() != Source.GetFbfrSize()) {
    FBFR32* const kept = GetFbfrP();
    OwnedFbfr fresh = AllocateFml32(Fsizeof32(Source.GetFbfrP()));
    if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie rozmiaru bufora FML"_ansi), NoFieldId);
    if (!fresh) {
      CheckTperrno(AnsiString());
      throw Exception("ERROR!!!"_ansi);
    }
    FFbfr = fresh.release();
    tpfree(reinterpret_cast<char*>(kept));
  }
  Fcpy32(FFbfr, Source.GetFbfrP());
  if (Ferror32 != 0) CheckFerror(OpLabel("Przeniesienie zawartości bufora FML"_ansi), NoFieldId);
  Contract = Source.Contract;
  FFbfrDef->Assign(Source.FFbfrDef.get());
  return *this;
}

FBFR32* TTxFbfr::GetFbfrP() const {
  if (FFbfr == nullptr) throw Exception("Wskaźnik bufora == NULL"_ansi);
  return FFbfr;
}

// ---- TTxFbfr: definitions and names ------------------------------------------

bool TTxFbfr::Contracted() const { return Contract != nullptr && Contract->Count() > 0; }

TTxFbfrDef* TTxFbfr::GetFldDefs() const { return Contracted() ? Contract : FFbfrDef.get(); }

void TTxFbfr::SyncFbfrDef() {
  FFbfrDef->Clear();
  FFbfrDef->FillUsing(FFbfr);
}

unsigned long TTxFbfr::FindFieldId(const AnsiString& Name) const {
  const TTxFbfrFldDef* def = GetFldDefs()->FindFldDefByName(Name);
  return def ? static_cast<std::uint32_t>(def->GetTxFldId()) : 0;
}

unsigned long TTxFbfr::FieldIdByName(const AnsiString& Name) const {
  const unsigned long id = FindFieldId(Name);
  if (id == 0) throw ETxError(Format("Nie znaleziono pola %s w buforze FML."_ansi, {Name}));
  return id;
}

AnsiString TTxFbfr::FindFieldName(unsigned long Id) const {
  const TTxFbfrFldDef* def = GetFldDefs()->FindFldDefById(Id);
  return def ? def->GetTxFldName() : AnsiString();
}

AnsiString TTxFbfr::FieldNameById(unsigned long Id) const {
  AnsiString name = FindFieldName(Id);
  if (name.IsEmpty())
    throw ETxError(Format("Pole (%u) nie zostało znalezione w definicji bufora !"_ansi,
                          {static_cast<long long>(Id)}));
  return name;
}

// ---- TTxFbfr: occurrences -------------------------------------------------------

int TTxFbfr::OccCount(unsigned long Id) const {
  const FLDOCC32 count = Foccur32(GetFbfrP(), static_cast<FLDID32>(Id));
  if (count < 0 && Ferror32 != 0)
    CheckFerror(OpLabel("Pobranie liczby wystąpień pola"_ansi), Id);
  return count;
}

int TTxFbfr::OccCount(const AnsiString& Name) const { return OccCount(FieldIdByName(Name)); }

int TTxFbfr::OccLength(unsigned long Id, int Occ) const {
  const long length = Flen32(GetFbfrP(), static_cast<FLDID32>(Id), Occ);
  if (length < 0 && Ferror32 == FNOTPRES) {
    Ferror32 = 0;
    return -1;
  }
  if (Ferror32 != 0) CheckFerror(AnsiString(), Id);
  return static_cast<int>(length);
}

int TTxFbfr::OccLength(const AnsiString& Name, int Occ) const {
  return OccLength(FieldIdByName(Name), Occ);
}

int TTxFbfr::ValueLength(unsigned long Id, int Occ) const {
  const int length = OccLength(Id, Occ);
  if (length >= 0 && Fldtype32(static_cast<FLDID32>(Id)) == FLD_STRING) return length - 1;
  return length;
}

char* TTxFbfr::GetValuePtr(unsigned long Id, int Occ) const {
  char* value = Ffind32(GetFbfrP(), static_cast<FLDID32>(Id), Occ, nullptr);
  if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie wskazania na wartość pola"_ansi), Id);
  return value;
}

void TTxFbfr::CheckWritable() const {
  if (ReadOnly) throw Exception("Read-only TTxFbfr"_ansi);
}

void TTxFbfr::Clear() {
  DeleteAllOcc(0);
  SyncFbfrDef();
}

void TTxFbfr::DeleteOcc(unsigned long Id, int Occ) {
  CheckWritable();
  Fdel32(GetFbfrP(), static_cast<FLDID32>(Id), Occ);
  if (Ferror32 != 0) CheckFerror(AnsiString(), Id);
}

void TTxFbfr::DeleteOcc(const AnsiString& Name, int Occ) { DeleteOcc(FieldIdByName(Name), Occ); }

void TTxFbfr::DeleteAllOcc(unsigned long Id) {
  CheckWritable();
  if (Id != 0) {
    Fdelall32(GetFbfrP(), static_cast<FLDID32>(Id));
    if (Ferror32 != 0) CheckFerror(AnsiString(), Id);
    return;
  }
  // Fnext32 goes on from the deleted field's position, so the walk empties the buffer.
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(GetFbfrP(), &id, &occ, nullptr, nullptr) >= 1) {
    if (Fdelall32(FFbfr, id) == -1 && Ferror32 != 0) CheckFerror(AnsiString(), id);
  }
}

// ---- TTxFbfr: size and growth ---------------------------------------------------

long TTxFbfr::GetFbfrSize() const {
  const long size = Fsizeof32(FFbfr);
  if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie rozmiaru bufora FML"_ansi), NoFieldId);
  return size;
}

void TTxFbfr::SetFbfrSize(long Size) {
  OwnedFbfr fresh = AllocateFml32(Size);
  CheckTperrno(AnsiString());
  if (!fresh) throw Exception("ERROR!!!"_ansi);
  Fcpy32(fresh.get(), FFbfr);
  if (Ferror32 != 0)
    CheckFerror(OpLabel("Kopiowanie istniejącej zawartości bufora"_ansi), NoFieldId);
  FBFR32* const old = FFbfr;
  FFbfr = fresh.release();
  tpfree(reinterpret_cast<char*>(old));
  CheckTperrno(AnsiString());
}

void TTxFbfr::EnsureSpace(unsigned long Id, long Occ, int Len) {
  if (Len == 0) return;
  long old = 0;
  if (Id != 0 && Occ >= 0) {
    old = Flen32(FFbfr, static_cast<FLDID32>(Id), static_cast<FLDOCC32>(Occ));
    if (old < 0) {
      old = 0;
      if (Ferror32 == FNOTPRES)
        Ferror32 = 0;
      else if (Ferror32 != 0)
        CheckFerror(OpLabelAt(kOpFieldSize, __FILE__, __LINE__), Id);
    }
  }
  const long need = Fneeded32(1, static_cast<FLDLEN32>(Len)) - old;
  if (Ferror32 != 0) CheckFerror(OpLabelAt(kOpNeededSpace, __FILE__, __LINE__), Id);
  if (Funused32(FFbfr) <= need) {
    SetFbfrSize(GetFbfrSize() + std::max(need, kMinimumGrowth));
    if (Ferror32 != 0)
      CheckFerror(OpLabel("Utworzenie nowego obszaru bufora FML"_ansi), NoFieldId);
  }
  if (Ferror32 != 0) CheckFerror(OpLabelAt(kOpUnusedSpace, __FILE__, __LINE__), NoFieldId);
}

}  // namespace Tx
