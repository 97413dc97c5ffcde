#include "buffer/TxFbfr.h"

#include <atmi.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Filer.h"
#include "platform/framework/Streams.h"
#include "platform/framework/TextCompare.h"
#include "platform/tuxedo/FmlCalls.h"

namespace Tx {
namespace {

// Operation texts of the growth rule, made once when the unit is loaded.
const AnsiString kOpFieldSize = "Pobranie informacji o rozmiarze pola FML"_ansi;
const AnsiString kOpNeededSpace = "Pobranie informacji o wymaganym miejscu dla wartości"_ansi;
const AnsiString kOpUnusedSpace = "Pobranie informacji o nieużywanym miejscu w buforze"_ansi;

constexpr int kDefaultSize = 1000;
constexpr long kMinimumGrowth = 4096;
constexpr long kSmallBufferLimit = 64 * 1024;

// The least growth of a buffer of that size: 4 KB up to 64 KB, the whole
// size beyond, so that the copies made while a big buffer fills stay a
// constant share of the bytes added (see EnsureSpace in the header).
long LeastGrowth(long size) { return size <= kSmallBufferLimit ? kMinimumGrowth : size; }

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

// Reserved null values of the numeric types.
constexpr short kNullShort = -32768;
constexpr long kNullLong = -2147483648L;
const float kNullFloat = std::bit_cast<float>(std::uint32_t{0x7F7FC99E});
const double kNullDouble = std::bit_cast<double>(std::uint64_t{0x8010000000000000});

const AnsiString kDateTimeFormat = "yyyy-mm-dd hh:nn:ss.zzz";

AnsiString UnsupportedTypeText(FLDID32 id, int type) {
  const char* name = Ftype32(id);
  return Format("Nieobsługiwany typ pola FML (%d-%s)."_ansi, {type, name ? name : ""});
}

// Holds a byte array locked while its data is read.
class LockedArray {
 public:
  explicit LockedArray(const Variant& value)
      : FValue(const_cast<Variant&>(value)), FData(VarArrayLock(FValue)) {}
  ~LockedArray() { VarArrayUnlock(FValue); }
  LockedArray(const LockedArray&) = delete;
  LockedArray& operator=(const LockedArray&) = delete;
  const char* Data() const { return static_cast<const char*>(FData); }

 private:
  Variant& FValue;
  void* FData;
};

[[noreturn]] void PropertyErrorNonNegative() {
  throw EPropertyError("Dopuszczalne są tylko wartości nieujemne"_ansi);
}

}  // namespace

// ---- TTxFbfrFldDef -------------------------------------------------------------

TTxFbfrFldDef::TTxFbfrFldDef(TCollection* Collection) : TCollectionItem(Collection) {}

unsigned char TTxFbfrFldDef::GetTxFldType() const {
  const int type = Fldtype32(static_cast<FLDID32>(FTxFldId));
  if (Ferror32 != 0) CheckFerror(OpLabel(AnsiString()), static_cast<std::uint32_t>(FTxFldId));
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
    CheckTperrno(OpLabel(AnsiString()));
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
      CheckTperrno(OpLabel(AnsiString()));
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
  if (Ferror32 != 0) CheckFerror(OpLabel(AnsiString()), Id);
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
  if (Ferror32 != 0) CheckFerror(OpLabel(AnsiString()), Id);
}

void TTxFbfr::DeleteOcc(const AnsiString& Name, int Occ) { DeleteOcc(FieldIdByName(Name), Occ); }

void TTxFbfr::DeleteAllOcc(unsigned long Id) {
  CheckWritable();
  if (Id != 0) {
    Fdelall32(GetFbfrP(), static_cast<FLDID32>(Id));
    if (Ferror32 != 0) CheckFerror(OpLabel(AnsiString()), Id);
    return;
  }
  // Each round deletes the first field. A walk is not continued past a
  // deletion: where Fnext32 would go from a field no longer in the buffer is
  // not defined.
  for (;;) {
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 occ = 0;
    if (Fnext32(GetFbfrP(), &id, &occ, nullptr, nullptr) < 1) break;
    if (Fdelall32(FFbfr, id) == -1) {
      if (Ferror32 != 0) CheckFerror(OpLabel(AnsiString()), id);
      break;  // a failure without an error number would repeat forever
    }
  }
}

// ---- TTxFbfr: typed values ------------------------------------------------------

namespace {

TTxFldLogicalType LogicalTypeOf(const TTxFbfrDef* defs, unsigned long id) {
  const TTxFbfrFldDef* def = defs ? defs->FindFldDefById(id) : nullptr;
  return def ? def->GetLogicalType() : txlftDefault;
}

// Raises for a set Ferror32; the label names the file and line of the
// caller's check.
void CheckFieldError(unsigned long id, const char* file = __builtin_FILE(),
                     int line = __builtin_LINE()) {
  if (Ferror32 != 0) CheckFerror(OpLabelAt(AnsiString(), file, line), id);
}

// A value converted for Fchg32: the bytes and, for strings and carrays, the length.
struct StoredValue {
  short Short = 0;
  long Long = 0;
  float Float = 0.0F;
  double Double = 0.0;
  char Char = 0;
  std::string Bytes;  // string (without its zero) or carray
  const char* Pointer = nullptr;
  FLDLEN32 Length = 0;
  bool IsText = false;  // the length counts for the size limit
};

}  // namespace

Variant TTxFbfr::GetValues(unsigned long Id, int Occ) {
  FBFR32* const fbfr = GetFbfrP();
  const FLDID32 id = static_cast<FLDID32>(Id);
  const int type = Fldtype32(id);
  CheckFieldError(Id);
  switch (type) {
    case FLD_SHORT:
    case FLD_LONG: {
      const long value = FieldLong(fbfr, id, Occ);
      CheckFieldError(Id);
      if (value == (type == FLD_SHORT ? kNullShort : kNullLong)) return Null();
      long result = value;
      if (LogicalTypeOf(GetFldDefs(), Id) == txlftDate) result += 1;
      // A long beyond 32 bits (possible on 64-bit systems) keeps its value.
      if (result < INT32_MIN || result > INT32_MAX) return Variant(static_cast<long long>(result));
      return Variant(static_cast<int>(result));
    }
    case FLD_CHAR: {
      const char character = FieldChar(fbfr, id, Occ);
      CheckFieldError(Id);
      if (character == '\0') return Null();
      return Variant(AnsiString(&character, 1));
    }
    case FLD_FLOAT: {
      float value = 0.0F;
      Fget32(fbfr, id, Occ, reinterpret_cast<char*>(&value), nullptr);
      CheckFieldError(Id);
      if (BadFloat(value) || value == kNullFloat) return Null();
      return Variant(value);
    }
    case FLD_DOUBLE: {
      double value = 0.0;
      Fget32(fbfr, id, Occ, reinterpret_cast<char*>(&value), nullptr);
      CheckFieldError(Id);
      if (BadDouble(value) || value == kNullDouble) return Null();
      if (value < 0.0 && LogicalTypeOf(GetFldDefs(), Id) == txlftTime) value += 1.0;
      return Variant(value);
    }
    case FLD_STRING: {
      const char* text = FieldString(fbfr, id, Occ);
      CheckFieldError(Id);
      if (text == nullptr || text[0] == '\0') return Null();
      AnsiString value(text);
      TTxGlobalClient::TranslateString(value, false);
      return Variant(std::move(value));
    }
    case FLD_CARRAY: {
      FLDLEN32 length = 0;
      const char* bytes = Ffind32(fbfr, id, Occ, &length);
      CheckFieldError(Id);
      if (bytes == nullptr || length == 0) return Null();
      return Variant(AnsiString(bytes, static_cast<int>(length)));
    }
    default:
      throw Exception(UnsupportedTypeText(id, type));
  }
}

void TTxFbfr::SetValues(unsigned long Id, int Occ, const Variant& Value) {
  const FLDID32 id = static_cast<FLDID32>(Id);
  const int type = Fldtype32(id);
  const bool noValue = VarIsNull(Value) || VarIsEmpty(Value);
  StoredValue stored;
  std::unique_ptr<LockedArray> lockedArray;
  switch (type) {
    case FLD_SHORT:
      // The low 16 bits of the 32-bit integer are stored.
      stored.Short = noValue ? kNullShort : static_cast<short>(Value.AsInteger());
      stored.Pointer = reinterpret_cast<const char*>(&stored.Short);
      break;
    case FLD_LONG:
      if (noValue) {
        stored.Long = kNullLong;
      } else {
        stored.Long = VarType(Value) == varDate
                          ? static_cast<long>(static_cast<double>(DateOf(Value.AsDateTime())))
                          : static_cast<long>(Value.AsInteger());
        if (LogicalTypeOf(GetFldDefs(), Id) == txlftDate) stored.Long -= 1;
      }
      stored.Pointer = reinterpret_cast<const char*>(&stored.Long);
      break;
    case FLD_FLOAT:
      stored.Float = noValue ? kNullFloat : Value.AsSingle();
      stored.Pointer = reinterpret_cast<const char*>(&stored.Float);
      break;
    case FLD_DOUBLE:
      if (noValue) {
        stored.Double = kNullDouble;
      } else {
        stored.Double = Value.AsDouble();
        if (stored.Double > 0.0 && LogicalTypeOf(GetFldDefs(), Id) == txlftTime)
          stored.Double -= 1.0;
      }
      stored.Pointer = reinterpret_cast<const char*>(&stored.Double);
      break;
    case FLD_CHAR:
      if (!noValue) {
        const AnsiString text = Value.AsString();
        stored.Char = text[1];  // an empty text raises the range-check error
      }
      stored.Pointer = &stored.Char;
      break;
    case FLD_STRING: {
      AnsiString text;
      if (!noValue) {
        text = VarType(Value) == varDate && LogicalTypeOf(GetFldDefs(), Id) == txlftDateTime
                   ? FormatDateTime(kDateTimeFormat, Value.AsDateTime())
                   : Value.AsString();
        TTxGlobalClient::TranslateString(text, true);
      }
      stored.Bytes = text.str();
      stored.Pointer = stored.Bytes.c_str();
      stored.Length = static_cast<FLDLEN32>(std::strlen(stored.Pointer));
      stored.IsText = true;
      break;
    }
    case FLD_CARRAY:
      if (noValue) {
        stored.Pointer = "";
      } else if (VarType(Value) == varString || VarType(Value) == varOleStr) {
        stored.Bytes = Value.AsString().str();
        stored.Pointer = stored.Bytes.data();
        stored.Length = static_cast<FLDLEN32>(stored.Bytes.size());
      } else if (VarType(Value) == (varArray | varByte)) {
        const int low = VarArrayLowBound(Value, 1);
        const int high = VarArrayHighBound(Value, 1);
        lockedArray = std::make_unique<LockedArray>(Value);
        stored.Pointer = lockedArray->Data();
        stored.Length = static_cast<FLDLEN32>(high - low + 1);
      } else {
        throw Exception("Variant musi być typu varString lub varByte+varArray"_ansi);
      }
      stored.IsText = true;
      break;
    default:
      throw Exception("Pole <"_ansi + AnsiString(Id) + ">: " + UnsupportedTypeText(id, type));
  }

  if (stored.IsText && stored.Length > 0 && Contracted()) {
    const TTxFbfrFldDef* def = Contract->FindFldDefById(Id);
    if (def != nullptr && def->GetMaxSize() > 0 &&
        static_cast<long long>(def->GetMaxSize()) < static_cast<long long>(stored.Length))
      throw Exception("Pole "_ansi + def->GetTxFldName() + ": " +
                      "Rozmiar większy niż ustalony kontraktem ("_ansi +
                      AnsiString(static_cast<unsigned long>(stored.Length)) + " > " +
                      AnsiString(def->GetMaxSize()) + ")");
  }
  CheckFieldError(Id);
  EnsureSpace(Id, Occ, static_cast<int>(stored.Length));
  Fchg32(FFbfr, id, Occ, const_cast<char*>(stored.Pointer), stored.Length);
  CheckFieldError(Id);
}

int TTxFbfr::AppendOcc(unsigned long Id, const Variant& Value) {
  if (ReadOnly) throw Exception("Bufor Tuxedo tylko do odczytu"_ansi);
  if (Contracted()) {
    const TTxFbfrFldDef* def = Contract->FindFldDefById(Id);
    if (def != nullptr && def->GetOccMax() > 0 && OccCount(Id) + 1 > def->GetOccMax())
      throw ETxFbfrContractViolated("Przekroczona maksymalna liczba wystąpień pola <"_ansi +
                                    AnsiString(Id) + "> (kontrakt).");
  }
  const FLDID32 id = static_cast<FLDID32>(Id);
  // The placeholder below is no value of the other types: an embedded buffer
  // or a pointer would be read from it.
  const int type = Fldtype32(id);
  if (type < FLD_SHORT || type > FLD_CARRAY)
    throw Exception("Pole <"_ansi + AnsiString(Id) + ">: " + UnsupportedTypeText(id, type));
  int room = 16;
  if (Fldtype32(id) == FLD_STRING && !VarIsNull(Value)) room = Value.AsString().Length() + 1;
  CheckFieldError(Id);
  EnsureSpace(Id, -1, room);
  // A placeholder that reads as zero, an empty string or an empty carray,
  // replaced by the value below.
  char placeholder[16] = {};
  if (Fadd32(FFbfr, id, placeholder, 0) == -1 && Ferror32 != 0)
    CheckFerror(OpLabel("Dodanie nowego wystąpienia pola:"_ansi), Id);
  const int occ = OccCount(Id) - 1;
  SetValues(Id, occ, Value);
  return occ;
}

int TTxFbfr::AppendOcc(const AnsiString& Name, const Variant& Value) {
  return AppendOcc(FieldIdByName(Name), Value);
}

void TTxFbfr::AppendValues(TTxFbfr* Source, int Group, int Occ, bool OnlyContracted) {
  if (Source == nullptr) return;
  const TTxFbfrDef* defs = Source->GetFldDefs();
  for (int i = 0; i < defs->Count(); ++i) {
    const TTxFbfrFldDef* def = defs->GetFldDef(i);
    if (Group != -1 && def->GetGroup() != Group) continue;
    const unsigned long id = static_cast<std::uint32_t>(def->GetTxFldId());
    if (OnlyContracted && Contract != nullptr && Contract->FindFldDefById(id) == nullptr) continue;
    if (Occ >= 0) {
      AppendOcc(id, Source->GetValues(id, Occ));
    } else {
      const int count = Source->OccCount(id);
      for (int j = 0; j < count; ++j) AppendOcc(id, Source->GetValues(id, j));
    }
  }
}

Variant TTxFbfr::OccValue(unsigned long Id, int Occ) { return GetValues(Id, Occ); }
Variant TTxFbfr::OccValue(const AnsiString& Name, int Occ) {
  return GetValues(FieldIdByName(Name), Occ);
}

// ---- TTxFbfr: contract application ------------------------------------------------

namespace {

constexpr long kReservedFirst = 150000;
constexpr long kReservedLast = 999999;
const AnsiString kQuestionCaption = "Bufor FML - pytanie"_ansi;

// The field's name from the field tables; a field without one leaves no error behind.
AnsiString TableName(unsigned long id) {
  const char* name = Fname32(static_cast<FLDID32>(id));
  AnsiString result(name ? name : "");
  Ferror32 = 0;
  return result;
}

// Raises in checking mode; otherwise asks (when Ask) and returns the answer.
bool ConfirmRepair(const AnsiString& message, const AnsiString& question, bool repair, bool ask) {
  if (!repair) throw ETxFbfrContractViolated(message);
  if (!ask) return true;
  return Application->MessageBox(message + question, kQuestionCaption, MB_YESNO) == IDYES;
}

}  // namespace

bool TTxFbfr::ApplyContract(bool CheckExtra, bool& Repair, bool Ask) {
  if (!Contracted()) return true;
  bool accepted = true;
  bool changed = false;

  if (CheckExtra) {
    const AnsiString nextLabel = OpLabel("Fnext");
    const AnsiString findLastLabel = OpLabel("Ffindlast");
    // The fields to remove are deleted after the walk: a walk that goes on
    // after the buffer changed under it is not defined.
    std::vector<FLDID32> extra;
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 occ = 0;
    while (true) {
      if (Fnext32(GetFbfrP(), &id, &occ, nullptr, nullptr) <= 0) {
        CheckFerror(nextLabel, id);
        break;
      }
      const long number = Fldno32(id);
      if ((number < kReservedFirst || number > kReservedLast) &&
          Contract->FindFldDefById(id) == nullptr) {
        const AnsiString message = "Pole "_ansi + TableName(id) + " <" + AnsiString(
                                       static_cast<unsigned long>(id)) +
                                   "> nie występuje w kontrakcie"_ansi;
        if (ConfirmRepair(message, ".\rUsunąć je z bufora?"_ansi, Repair, Ask)) {
          extra.push_back(id);
        } else {
          accepted = false;
        }
      }
      Ffindlast32(GetFbfrP(), id, &occ, nullptr);
      if (Ferror32 != 0) CheckFerror(findLastLabel, id);
    }
    for (const FLDID32 field : extra) DeleteAllOcc(field);
    changed = !extra.empty();
  }

  for (int i = 0; i < Contract->Count(); ++i) {
    const TTxFbfrFldDef* def = Contract->GetFldDef(i);
    const unsigned long id = static_cast<std::uint32_t>(def->GetTxFldId());
    int count = OccCount(id);
    const int occMin = def->GetOccMin();
    const int occMax = def->GetOccMax();
    if (occMin >= 0 && count < occMin) {
      const AnsiString message = "Pole "_ansi + TableName(id) + " (id.=" + AnsiString(id) +
                                 "): liczba wystąpień w buforze ("_ansi + AnsiString(count) +
                                 ") mniejsza niż w kontrakcie ("_ansi + AnsiString(occMin) + ")";
      if (ConfirmRepair(message, ".\rUzupełnić brakujące wystąpienia pustymi wartościami?"_ansi,
                        Repair, Ask)) {
        for (; count < occMin; ++count) AppendOcc(id, Unassigned());
        changed = true;
      } else {
        accepted = false;
      }
    }
    if (occMax >= 0 && count > occMax) {
      const AnsiString message = "Pole "_ansi + TableName(id) + " (id.=" + AnsiString(id) +
                                 "): liczba wystąpień w buforze ("_ansi + AnsiString(count) +
                                 ") większa niż w kontrakcie ("_ansi + AnsiString(occMax) + ")";
      if (ConfirmRepair(message, ".\rUsunąć nadmiarowe wystąpienia?"_ansi, Repair, Ask)) {
        for (; count > occMax; --count) DeleteOcc(id, count - 1);
        changed = true;
      } else {
        accepted = false;
      }
    }
  }
  Repair = changed;
  return accepted;
}

void TTxFbfr::CheckWithContract() {
  bool repair = false;
  ApplyContract(false, repair, false);
}

// ---- TTxFbfr: size and growth ---------------------------------------------------

long TTxFbfr::GetFbfrSize() const {
  const long size = Fsizeof32(FFbfr);
  if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie rozmiaru bufora FML"_ansi), NoFieldId);
  return size;
}

void TTxFbfr::SetFbfrSize(long Size) {
  OwnedFbfr fresh = AllocateFml32(Size);
  if (tperrno != 0) CheckTperrno(OpLabel(AnsiString()));
  if (!fresh) throw Exception("ERROR!!!"_ansi);
  Fcpy32(fresh.get(), FFbfr);
  if (Ferror32 != 0)
    CheckFerror(OpLabel("Kopiowanie istniejącej zawartości bufora"_ansi), NoFieldId);
  FBFR32* const old = FFbfr;
  FFbfr = fresh.release();
  tpfree(reinterpret_cast<char*>(old));
  if (tperrno != 0) CheckTperrno(OpLabel(AnsiString()));
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
    const long size = GetFbfrSize();
    SetFbfrSize(size + std::max(need, LeastGrowth(size)));
    if (Ferror32 != 0)
      CheckFerror(OpLabel("Utworzenie nowego obszaru bufora FML"_ansi), NoFieldId);
  }
  if (Ferror32 != 0) CheckFerror(OpLabelAt(kOpUnusedSpace, __FILE__, __LINE__), NoFieldId);
}

// ---- TTxFbfr: saving with the owning component ------------------------------------

namespace {

const char kEndMark[] = "*FBUF_END*";
constexpr unsigned char kContentsVersion = 1;
constexpr int kLongestText = 8192;

void PutInt32(TStream* stream, std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  stream->WriteBuffer(bytes, 4);
}

void PutDouble(TStream* stream, double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, 8);
  PutInt32(stream, static_cast<std::uint32_t>(bits));
  PutInt32(stream, static_cast<std::uint32_t>(bits >> 32));
}

void PutText(TStream* stream, const char* text) {
  stream->WriteBuffer(text, static_cast<std::int64_t>(std::strlen(text)) + 1);
}

std::uint32_t GetInt32(TStream* stream) {
  unsigned char bytes[4];
  stream->ReadBuffer(bytes, 4);
  return bytes[0] | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

double GetDouble(TStream* stream) {
  const std::uint64_t low = GetInt32(stream);
  const std::uint64_t bits = low | (static_cast<std::uint64_t>(GetInt32(stream)) << 32);
  double value = 0;
  std::memcpy(&value, &bits, 8);
  return value;
}

// Beyond float's range a value becomes an infinity rather than undefined.
float NarrowToFloat(double value) {
  if (value > FLT_MAX) return HUGE_VALF;
  if (value < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(value);
}

// A zero-terminated text of at most 8192 bytes.
AnsiString GetText(TStream* stream) {
  std::string text;
  for (int read = 0; read <= kLongestText; ++read) {
    char c = 0;
    stream->ReadBuffer(&c, 1);
    if (c == '\0') return AnsiString(std::move(text));
    text.push_back(c);
  }
  throw EAbort("Za długi tekst do przeczytania ('"_ansi + AnsiString(text) + "...')");
}

// Fails with the stream's own read error, before any memory is set aside,
// when the stream cannot hold Count more bytes.
void RequireBytes(TStream* stream, std::int64_t count) {
  if (count > stream->GetSize() - stream->GetPosition())
    throw EReadError(AnsiString("Stream read error"));
}

[[noreturn]] void RefuseImage() {
  throw EReadError(
      "Obraz bufora FML (FBFRdata) jest uszkodzony albo zapisała go inna biblioteka FML32 - "
      "nie został wczytany"_ansi);
}

// An image is the memory of a buffer of the engine that wrote it. Beyond
// the checks that FML32 itself offers (Fielded32 and the buffer's own sizes)
// nothing about its inside can be checked without knowing the engine's
// layout, and an engine's lookups may trust offsets that its walk does not
// need. So the image is only walked, in order, and its values are added to a
// new buffer of this engine; the image itself never becomes the buffer.

// Frees a block that held an image. It is made an empty buffer first:
// freeing a typed buffer may walk its fields, which must never reach an
// image that turned out damaged.
struct EmptyingTpFree {
  long Length;
  void operator()(FBFR32* block) const noexcept {
    Finit32(block, static_cast<FLDLEN32>(Length));
    Ferror32 = 0;
    tpfree(reinterpret_cast<char*>(block));
  }
};

// The image's own size, or 0 when FML32 refuses it or its sizes disagree
// with each other or with the image's length.
long ImageSize(FBFR32* image, long length) {
  if (Fielded32(image) != 1) return 0;
  const long size = Fsizeof32(image);
  const long used = Fused32(image);
  const long unused = Funused32(image);
  if (size <= 0 || size > length || used < 0 || unused < 0 || used + unused != size) return 0;
  return size;
}

// Adds every occurrence of the image to Copy, an empty buffer of the
// image's size. False when the walk fails, disagrees with the image's count
// or meets a pointer field.
bool CopyImage(FBFR32* image, FBFR32* copy) {
  const long used = Fused32(image);
  // No value is longer than the image; the block is aligned for any type,
  // embedded buffers included.
  const auto slots = static_cast<std::size_t>(used) / sizeof(std::max_align_t) + 1;
  const auto value = std::make_unique<std::max_align_t[]>(slots);
  char* const valueBytes = reinterpret_cast<char*>(value.get());
  // Every occurrence takes at least its field id, so a walk longer than
  // that goes round in circles.
  const long mostOccurrences = used / static_cast<long>(sizeof(FLDID32));
  long walked = 0;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  int step = 0;
  for (;;) {
    auto room = static_cast<FLDLEN32>(slots * sizeof(std::max_align_t));
    step = Fnext32(image, &id, &occ, valueBytes, &room);
    if (step <= 0) break;
    if (++walked > mostOccurrences) return false;
    // A pointer kept in an image points nowhere in this process.
    if (Fldtype32(id) == FLD_PTR) return false;
    if (Fadd32(copy, id, valueBytes, room) == -1) return false;
  }
  return step == 0 && walked == Fnum32(image);
}

}  // namespace

void TTxFbfr::DefineProperties(TFiler* Filer) {
  TPersistent::DefineProperties(Filer);
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  const bool hasFields = Fnext32(GetFbfrP(), &id, &occ, nullptr, nullptr) > 0;
  if (!hasFields && Ferror32 != 0) CheckFerror(OpLabel("Fnext"), NoFieldId);
  Filer->DefineBinaryProperty("FBFRdata", TStreamProc(this, &TTxFbfr::ReadFBFRdata), nullptr,
                              false);
  Filer->DefineBinaryProperty("FBFRContents", TStreamProc(this, &TTxFbfr::ReadFBFRContents),
                              TStreamProc(this, &TTxFbfr::WriteFBFRContents), hasFields);
}

void TTxFbfr::WriteFBFRContents(TStream* Stream) {
  bool repair = true;
  if (!ApplyContract(true, repair, true)) {
    AnsiString text;
    if (const auto* owner = dynamic_cast<const TComponent*>(FOwner))
      text = "Komponent "_ansi + owner->Name() + "\r";
    text += "Zawartość bufora FML niezgodna z kontraktem!\rZapisać mimo to?"_ansi;
    if (Application->MessageBox(text, "Ostrzeżenie"_ansi, MB_OKCANCEL) != IDOK)
      throw EWriteError("Zawartość bufora niezgodna z kontraktem - zapis anulowany"_ansi);
  }

  Stream->WriteBuffer(&kContentsVersion, 1);
  FBFR32* const fbfr = GetFbfrP();
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(fbfr, &id, &occ, nullptr, nullptr) > 0) {
    if (Contracted() && Contract->FindFldDefById(id) == nullptr) {
      ShowMessage(
          "Pole <"_ansi + AnsiString(static_cast<unsigned long>(id)) +
          "> z bufora FML nie występuje w kontrakcie.\rJego wartości nie zostaną zapisane."_ansi);
    } else {
      const int type = Fldtype32(id);
      if (Ferror32 != 0) CheckFerror(AnsiString(), id);
      const FLDOCC32 count = Foccur32(fbfr, id);
      if (Ferror32 != 0) CheckFerror(AnsiString(), id);
      const char* tableName = Fname32(id);
      AnsiString name(tableName ? tableName : "");
      Ferror32 = 0;
      if (name.IsEmpty()) {
        if (const TTxFbfrFldDef* def = GetFldDefs()->FindFldDefById(id)) name = def->GetTxFldName();
      }
      PutText(Stream, name.c_str());
      PutInt32(Stream, id);
      PutInt32(Stream, static_cast<std::uint32_t>(type));
      PutInt32(Stream, static_cast<std::uint32_t>(count));
      for (FLDOCC32 k = 0; k < count; ++k) {
        switch (type) {
          case FLD_SHORT:
          case FLD_LONG: {
            const long value = FieldLong(fbfr, id, k);
            if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie wartości jako typ long"_ansi), id);
            PutInt32(Stream, static_cast<std::uint32_t>(value));
            break;
          }
          case FLD_CHAR: {
            // A character is written as a one-character text.
            const char text[2] = {FieldChar(fbfr, id, k), '\0'};
            if (Ferror32 != 0)
              CheckFerror(OpLabel("Pobranie wskazania na wartość jako char*"_ansi), id);
            PutText(Stream, text);
            break;
          }
          case FLD_STRING: {
            const char* text = FieldString(fbfr, id, k);
            if (Ferror32 != 0)
              CheckFerror(OpLabel("Pobranie wskazania na wartość jako char*"_ansi), id);
            PutText(Stream, text ? text : "");
            break;
          }
          case FLD_FLOAT:
          case FLD_DOUBLE: {
            const char* at = Ffind32(fbfr, id, k, nullptr);
            if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie wskazania na wartość"_ansi), id);
            double value = 0;
            if (type == FLD_FLOAT) {
              float single = 0;
              std::memcpy(&single, at, sizeof single);
              value = single;
            } else {
              std::memcpy(&value, at, sizeof value);
            }
            PutDouble(Stream, value);
            break;
          }
          case FLD_CARRAY: {
            FLDLEN32 length = 0;
            const char* at = Ffind32(fbfr, id, k, &length);
            if (Ferror32 != 0) CheckFerror(OpLabel("Pobranie wskazania na wartość pola"_ansi), id);
            PutInt32(Stream, length);
            if (length > 0) Stream->WriteBuffer(at, length);
            break;
          }
          default:
            break;
        }
      }
    }
    Ffindlast32(fbfr, id, &occ, nullptr);
    if (Ferror32 != 0) CheckFerror(OpLabel("Ffindlast"), id);
  }
  if (Ferror32 != 0) CheckFerror(OpLabel("Fnext"), NoFieldId);
  Stream->WriteBuffer(kEndMark, sizeof kEndMark);
}

void TTxFbfr::ReadFBFRContents(TStream* Stream) {
  unsigned char version = 0;
  Stream->ReadBuffer(&version, 1);
  if (version != kContentsVersion)
    throw EReadError("Nieznana wersja zapisu zawartości bufora FML"_ansi);

  // The values go to a buffer of their own first; the contents are
  // replaced only once the whole record has been read.
  TTxFbfr read(nullptr, 1024);
  for (AnsiString name = GetText(Stream); name != kEndMark; name = GetText(Stream)) {
    const FLDID32 id = GetInt32(Stream);
    const auto type = static_cast<std::int32_t>(GetInt32(Stream));
    const std::uint32_t count = GetInt32(Stream);
    Ferror32 = 0;
    if (type < FLD_SHORT || type > FLD_CARRAY) continue;  // values of other types are not kept
    for (std::uint32_t k = 0; k < count; ++k) {
      short shortValue = 0;
      long longValue = 0;
      float floatValue = 0;
      double doubleValue = 0;
      AnsiString text;
      std::vector<char> bytes;
      const char* value = nullptr;
      FLDLEN32 length = 0;
      int storedType = type;
      switch (type) {
        case FLD_SHORT:
          shortValue = static_cast<short>(GetInt32(Stream) & 0xFFFF);
          value = reinterpret_cast<const char*>(&shortValue);
          break;
        case FLD_LONG:
          longValue = static_cast<std::int32_t>(GetInt32(Stream));
          value = reinterpret_cast<const char*>(&longValue);
          break;
        case FLD_CHAR:
        case FLD_STRING:
          text = GetText(Stream);
          value = text.c_str();
          length = static_cast<FLDLEN32>(text.Length()) + 1;
          storedType = FLD_STRING;
          break;
        case FLD_FLOAT:
          floatValue = NarrowToFloat(GetDouble(Stream));
          value = reinterpret_cast<const char*>(&floatValue);
          break;
        case FLD_DOUBLE:
          doubleValue = GetDouble(Stream);
          value = reinterpret_cast<const char*>(&doubleValue);
          break;
        case FLD_CARRAY:
          length = GetInt32(Stream);
          RequireBytes(Stream, length);
          bytes.assign(static_cast<std::size_t>(length) + 1, '\0');
          if (length > 0) Stream->ReadBuffer(bytes.data(), length);
          value = bytes.data();
          break;
        default:
          break;
      }
      // A converted value may take more room than the stored one.
      read.EnsureSpace(id, -1, std::max<int>(static_cast<int>(length), 64));
      CFadd32(read.GetFbfrP(), id, const_cast<char*>(value), length, storedType);
      if (Ferror32 != 0) CheckFerror(AnsiString(), id);
    }
  }

  Clear();
  if (Ferror32 != 0) CheckFerror(OpLabel("Wyczyszczenie bufora"_ansi), NoFieldId);
  if (GetFbfrSize() != read.GetFbfrSize()) SetFbfrSize(read.GetFbfrSize());
  Fcpy32(FFbfr, read.GetFbfrP());
  if (Ferror32 != 0) CheckFerror(OpLabel("Przeniesienie zawartości bufora FML"_ansi), NoFieldId);
}

void TTxFbfr::WriteFBFRdata(TStream* Stream) {
  const long size = GetFbfrSize();
  PutInt32(Stream, static_cast<std::uint32_t>(size));
  Stream->WriteBuffer(GetFbfrP(), size);
}

void TTxFbfr::ReadFBFRdata(TStream* Stream) {
  const auto length = static_cast<std::int32_t>(GetInt32(Stream));
  if (length < Fneeded32(0, 0) || length > Stream->GetSize() - Stream->GetPosition()) RefuseImage();
  // A typed buffer of its own, so that the engine knows how far the image
  // may reach whatever its header says.
  tperrno = 0;
  const std::unique_ptr<FBFR32, EmptyingTpFree> image(
      reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, length)),
      EmptyingTpFree{length});
  if (!image) {
    CheckTperrno(AnsiString());
    throw Exception("ERROR!!!"_ansi);
  }
  Stream->ReadBuffer(image.get(), length);
  FBFR32* const fields = image.get();
  const long size = ImageSize(fields, length);
  Ferror32 = 0;
  if (size == 0) RefuseImage();
  tperrno = 0;
  OwnedFbfr copy = AllocateFml32(size);
  if (!copy) {
    CheckTperrno(AnsiString());
    throw Exception("ERROR!!!"_ansi);
  }
  const bool copied = CopyImage(fields, copy.get());
  Ferror32 = 0;
  if (!copied) RefuseImage();

  Clear();
  if (Ferror32 != 0) CheckFerror(OpLabel("Wyczyszczenie bufora"_ansi), NoFieldId);
  FBFR32* const old = FFbfr;
  FFbfr = copy.release();
  tpfree(reinterpret_cast<char*>(old));
  FFbfrDef->Clear();
}

void RegisterTxFbfrClasses() {
  PublishClass<TTxFbfrFldDef, TCollectionItem>("TTxFbfrFldDef")
      .String("FieldName", &TTxFbfrFldDef::GetTxFldName, &TTxFbfrFldDef::SetTxFldName)
      .Enum(
          "LogicalType", &TTxFbfrFldDef::GetLogicalType, &TTxFbfrFldDef::SetLogicalType,
          {"txlftDefault", "txlftDate", "txlftDateTime", "txlftMemo", "txlftGraphic", "txlftTime"})
      .Default(txlftDefault)
      .Bool("AssignSerial", &TTxFbfrFldDef::GetAssignSerial, &TTxFbfrFldDef::SetAssignSerial)
      .Default(false)
      .Integer("Group", &TTxFbfrFldDef::GetGroup, &TTxFbfrFldDef::SetGroup)
      .Default(0)
      .Integer("MaxSize", &TTxFbfrFldDef::GetMaxSize, &TTxFbfrFldDef::SetMaxSize)
      .Default(0)
      .Integer("OccMin", &TTxFbfrFldDef::GetOccMin, &TTxFbfrFldDef::SetOccMin)
      .Default(0)
      .Integer("OccMax", &TTxFbfrFldDef::GetOccMax, &TTxFbfrFldDef::SetOccMax)
      .Default(-1)
      .Int64("TxFldId", &TTxFbfrFldDef::GetTxFldId, &TTxFbfrFldDef::SetTxFldId)
      .Default(0);
  PublishClass<TTxFbfrDef, TCollection>("TTxFbfrDef");
  PublishClass<TTxFbfr, TPersistent>("TTxFbfr");
}

namespace {
[[maybe_unused]] const bool kTxFbfrClassesPublished = (RegisterTxFbfrClasses(), true);
}  // namespace

}  // namespace Tx
