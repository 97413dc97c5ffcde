#include "dataset/TxMti.h"

#include "dataset/TxMtiOrder.h"

#include <fml32.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/TextCompare.h"

namespace Tx {
namespace {

struct TResultName {
  DBIResult Code;
  const char* Name;
};

constexpr TResultName kResultNames[] = {
    {DBIERR_BOF, "DBIERR_BOF"},
    {DBIERR_EOF, "DBIERR_EOF"},
    {DBIERR_NOCURRREC, "DBIERR_NOCURRREC"},
    {DBIERR_ENDOFBLOB, "DBIERR_ENDOFBLOB"},
    {DBIERR_OPENBLOBLIMIT, "DBIERR_OPENBLOBLIMIT"},
    {DBIERR_REQDERR, "DBIERR_REQDERR"},
    {DBIERR_OUTOFRANGE, "DBIERR_OUTOFRANGE"},
    {DBIERR_INVALIDPARAM, "DBIERR_INVALIDPARAM"},
    {DBIERR_INVALIDBLOBOFFSET, "DBIERR_INVALIDBLOBOFFSET"},
    {DBIERR_NOSUCHFILTER, "DBIERR_NOSUCHFILTER"},
    {DBIERR_NOTABLOB, "DBIERR_NOTABLOB"},
    {DBIERR_BLOBOPENED, "DBIERR_BLOBOPENED"},
    {DBIERR_BLOBNOTOPENED, "DBIERR_BLOBNOTOPENED"},
    {DBIERR_NA, "DBIERR_NA"},
    {DBIERR_TABLEREADONLY, "DBIERR_TABLEREADONLY"},
};

constexpr int kHeaderSize = 4;

// The null values the buffer stores for blank numbers.
constexpr short kNullShort = -32768;
constexpr long kNullLong = -2147483648L;
const float kNullFloat = std::bit_cast<float>(std::uint32_t{0x7F7FC99E});
const double kNullDouble = std::bit_cast<double>(std::uint64_t{0x8010000000000000});
constexpr int kMaxPlainString = 8192;
constexpr int kDateTimeTextSize = 30;
constexpr std::size_t kMaxExpressionLength = 254;
constexpr std::size_t kMaxKeyName = 20;

// Key segments: a Null value is one byte below any value's marker.
constexpr char kNullMarker = 0;
constexpr char kValueMarker = 1;

AnsiString FbfrTypeName(unsigned long id) {
  const char* name = Ftype32(static_cast<FLDID32>(id));
  return AnsiString(name ? name : "");
}

// Eight bytes whose unsigned byte order is the numeric order of doubles.
void AppendOrderedDouble(std::string& key, double value) {
  if (value == 0.0) value = 0.0;  // -0 equals +0
  auto bits = std::bit_cast<std::uint64_t>(value);
  bits = (bits & 0x8000000000000000ULL) ? ~bits : (bits | 0x8000000000000000ULL);
  for (int shift = 56; shift >= 0; shift -= 8) key.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

// The text a date-time column stores.
std::string DateTimeText(double value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  DecodeDate(TDateTime(value), year, month, day);
  DecodeTime(TDateTime(value), hour, minute, second, msec);
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", year, month, day,
                                   hour, minute, second, msec);
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

// ---- Results ----------------------------------------------------------------------

AnsiString DbiResultName(DBIResult Result) {
  for (const TResultName& entry : kResultNames)
    if (entry.Code == Result) return AnsiString(entry.Name);
  return AnsiString("nieznany");
}

void DbiRaise(DBIResult Result) {
  const AnsiString name = DbiResultName(Result);
  throw Exception("DbiError: DBIResult=%d (%s)", {static_cast<int>(Result), name});
}

void DbiCheck(DBIResult Result) {
  if (Result != DBIERR_NONE) DbiRaise(Result);
}

// ---- Construction and the buffer -----------------------------------------------

TTxMti::TTxMti() { FBlobList.reserve(10); }

TTxMti::~TTxMti() = default;

TTxFbfr* TTxMti::GetTxFbfr() {
  if (!FFbfr) throw Exception("TxFbfr not set.");
  return FFbfr;
}

void TTxMti::CheckCursorClosed() const {
  if (open) throw Exception("Otwarte połączenie ze starym buforem"_ansi);
}

void TTxMti::SetTxFbfr(TTxFbfr* Fbfr) {
  CheckCursorClosed();
  if (!FIndexExpr.IsEmpty()) MakeIndex(AnsiString());
  FFbfr = Fbfr;
  FFieldCount = 0;  // the columns of the old buffer's contract are gone until Open maps the new ones
  FLayoutStale = true;
}

void TTxMti::SetTxFldGroup(int Group) {
  CheckCursorClosed();
  FFldGroup = Group;
  FFieldCount = 0;
  FLayoutStale = true;
}

// ---- Columns and layout ------------------------------------------------------------

void TTxMti::tuxUpdateTxFldDefMap() {
  FFieldCount = 0;
  FLayoutStale = true;
  if (!FFbfr) return;
  TTxFbfrDef* defs = FFbfr->GetFldDefs();
  for (int i = 0; i < defs->Count(); ++i) {
    TTxFbfrFldDef* def = defs->GetFldDef(i);
    if (FFldGroup != -1 && FFldGroup != def->GetGroup()) continue;
    if (FFieldCount == kMaxFields) throw Exception("Przekroczona maksymalna liczba pól Dataset-u"_ansi);
    FFldDefMap[static_cast<std::size_t>(++FFieldCount)] = def;
  }
}

bool TTxMti::tuxIsBlobFld(TTxFbfrFldDef* Def) {
  const int type = Fldtype32(static_cast<FLDID32>(Def->GetTxFldId()));
  if (type == FLD_CARRAY) return true;
  if (type != FLD_STRING) return false;
  const TTxFldLogicalType logical = Def->GetLogicalType();
  if (logical == txlftMemo) return true;
  if (logical == txlftDateTime) return false;
  return Def->GetMaxSize() == 0 || Def->GetMaxSize() > kMaxPlainString;
}

int TTxMti::tuxFldBufSize(TTxFbfrFldDef* Def) {
  const unsigned long id = static_cast<unsigned long>(Def->GetTxFldId());
  const int type = Fldtype32(static_cast<FLDID32>(id));
  switch (type) {
    case FLD_SHORT:
    case FLD_LONG: return 4 + 1;
    case FLD_CHAR: return 1 + 1;
    case FLD_FLOAT:
    case FLD_DOUBLE: return 8 + 1;
    case FLD_STRING:
      if (Def->GetLogicalType() == txlftDateTime) return 8 + 1;
      if (tuxIsBlobFld(Def)) return 4 + 1;
      if (Def->GetMaxSize() < 1)
        throw Exception("Nieokreślona długość pola STRING lub CARRAY (<%d>)"_ansi, {id});
      return Def->GetMaxSize() + 1 + 1;
    case FLD_CARRAY: return 4 + 1;
    default: {
      const AnsiString name = FbfrTypeName(id);
      throw Exception("Nieobsługiwany typ %s (%d) pola <%d>"_ansi, {name, type, id});
    }
  }
}

TTxFbfrFldDef* TTxMti::tuxFldDefByFieldNo(int FieldNo) {
  if (FieldNo < 1 || FieldNo > FFieldCount) throw Exception("Bad dataset field number %d", {FieldNo});
  return FFldDefMap[static_cast<std::size_t>(FieldNo)];
}

// Lays the columns out as far as their types allow; a column whose slot size
// raises stops the layout there, so that using it raises again.
void TTxMti::RefreshLayout() {
  FColumns.assign(static_cast<std::size_t>(FFieldCount) + 1, TColumn{});
  FLayoutColumns = 0;
  FLayoutStale = false;
  int offset = kHeaderSize;
  for (int k = 1; k <= FFieldCount; ++k) {
    TColumn& col = FColumns[static_cast<std::size_t>(k)];
    col.Def = FFldDefMap[static_cast<std::size_t>(k)];
    col.Id = static_cast<unsigned long>(col.Def->GetTxFldId());
    col.Type = Fldtype32(static_cast<FLDID32>(col.Id));
    int size = 0;
    try {
      size = tuxFldBufSize(col.Def);
    } catch (const Exception&) {
      FRecordSize = -1;
      return;
    }
    col.Blob = tuxIsBlobFld(col.Def);
    col.DateTimeText = col.Type == FLD_STRING && col.Def->GetLogicalType() == txlftDateTime;
    col.Logical = tuxGetFldLogicalType(col.Id);
    col.DataSize = size - 1;
    col.Offset = offset;
    offset += size;
    FLayoutColumns = k;
  }
  FRecordSize = offset;
}

const TTxMti::TColumn& TTxMti::Column(int FieldNo) {
  if (FLayoutStale) RefreshLayout();
  TTxFbfrFldDef* def = tuxFldDefByFieldNo(FieldNo);
  if (FieldNo > FLayoutColumns) {
    // Raise the slot-size error of the first column that has none.
    for (int k = FLayoutColumns + 1; k <= FieldNo; ++k) tuxFldBufSize(tuxFldDefByFieldNo(k));
    tuxFldBufSize(def);
  }
  return FColumns[static_cast<std::size_t>(FieldNo)];
}

int TTxMti::FldBufSize(int FieldNo) {
  TTxFbfrFldDef* def = tuxFldDefByFieldNo(FieldNo);
  if (!def) throw Exception("Nie znaleziono pola %d dataset-u w buforze"_ansi, {FieldNo});
  return tuxFldBufSize(def);
}

int TTxMti::FldBufOffset(int FieldNo) {
  if (FieldNo == 0) throw Exception("FieldNo==0");
  if (FieldNo <= 1) return kHeaderSize;
  if (FLayoutStale) RefreshLayout();
  if (FieldNo - 1 <= FLayoutColumns) return Column(FieldNo - 1).Offset + Column(FieldNo - 1).DataSize + 1;
  int offset = kHeaderSize;
  for (int k = 1; k < FieldNo; ++k) offset += FldBufSize(k);
  return offset;
}

TFieldDef* TTxMti::tuxCreateFieldDef(TFieldDefs* FieldDefs, TTxFbfrFldDef* Def) {
  const unsigned long id = static_cast<unsigned long>(Def->GetTxFldId());
  const int type = Fldtype32(static_cast<FLDID32>(id));
  const TTxFldLogicalType logical = Def->GetLogicalType();
  TFieldType dataType = ftUnknown;
  int size = 0;
  switch (type) {
    case FLD_SHORT:
    case FLD_LONG: dataType = logical == txlftDate ? ftDate : ftInteger; break;
    case FLD_CHAR:
      dataType = ftString;
      size = 1;
      break;
    case FLD_FLOAT:
    case FLD_DOUBLE: dataType = logical == txlftTime ? ftTime : ftFloat; break;
    case FLD_STRING:
      if (tuxIsBlobFld(Def)) {
        dataType = ftMemo;
      } else if (logical == txlftDateTime) {
        dataType = ftDateTime;
      } else {
        dataType = ftString;
        size = Def->GetMaxSize() & 0xFFFF;
      }
      break;
    case FLD_CARRAY:
      dataType = logical == txlftGraphic ? ftGraphic : (logical == txlftMemo ? ftMemo : ftBlob);
      break;
    default: throw Exception("Nieobsługiwany typ %d pola <%d>"_ansi, {type, id});
  }
  TFieldDef* fieldDef = FieldDefs->AddFieldDef();
  fieldDef->SetName(Def->GetTxFldName());
  fieldDef->SetDataType(dataType);
  fieldDef->SetSize(size);
  fieldDef->SetRequired(false);
  return fieldDef;
}

void TTxMti::tuxCreateFieldDefs(TFieldDefs* FieldDefs, TTxFbfrDef* /*Contract*/) {
  for (int k = 1; k <= FFieldCount; ++k) tuxCreateFieldDef(FieldDefs, FFldDefMap[static_cast<std::size_t>(k)]);
}

void TTxMti::CreateFieldDefs(TFieldDefs* FieldDefs) {
  tuxUpdateTxFldDefMap();
  tuxCreateFieldDefs(FieldDefs, FFbfr ? FFbfr->GetFldDefs() : nullptr);
}

TTxFbfrFldDef* TTxMti::tuxFindFldDefByName(const AnsiString& Name) {
  for (int k = 1; k <= FFieldCount; ++k) {
    TTxFbfrFldDef* def = FFldDefMap[static_cast<std::size_t>(k)];
    if (def->GetTxFldName() == Name) return def;
  }
  return nullptr;
}

TTxFbfrFldDef* TTxMti::tuxFindTxFldDef_WithAssignSerial() {
  for (int k = 1; k <= FFieldCount; ++k) {
    TTxFbfrFldDef* def = FFldDefMap[static_cast<std::size_t>(k)];
    if (def->GetAssignSerial()) return def;
  }
  return nullptr;
}

TTxFldLogicalType TTxMti::tuxGetFldLogicalType(unsigned long FldId) {
  if (!FFbfr) return txlftDefault;
  const TTxFbfrDef* defs = FFbfr->GetFldDefs();
  const TTxFbfrFldDef* def = defs ? defs->FindFldDefById(FldId) : nullptr;
  return def ? def->GetLogicalType() : txlftDefault;
}

// ---- Counting and numbering --------------------------------------------------------

int TTxMti::tuxGetMaxOccCount() {
  if (!FFbfr || FFieldCount == 0) return 0;
  return FFbfr->OccCount(static_cast<unsigned long>(FFldDefMap[1]->GetTxFldId()));
}

int TTxMti::GetRecordCount() { return tuxGetMaxOccCount(); }

int TTxMti::tuxOccFromRecNo(int RecNo) {
  if (RecNo < 1 || RecNo > GetRecordCount()) throw Exception("Zły numer rekordu %d"_ansi, {RecNo});
  if (!FRows) return RecNo - 1;
  if (RecNo > FRows->Count()) return -1;  // the buffer grew behind the order
  return FRows->OccAt(RecNo);
}

int TTxMti::tuxRecNoFromOcc(long Occ) {
  if (!FRows) return static_cast<int>(Occ + 1);
  const int count = GetRecordCount();
  if (Occ < 0 || Occ >= std::min(count, FRows->Count())) return -1;
  const int position = FRows->PositionOf(static_cast<int>(Occ));
  return position <= count ? position : -1;
}

// ---- Positioning ------------------------------------------------------------------------

DBIResult TTxMti::SetToBegin() {
  FCurrentRecord = 0;
  return DBIERR_NONE;
}

DBIResult TTxMti::SetToEnd() {
  FCurrentRecord = GetRecordCount() + 1;
  return DBIERR_NONE;
}

DBIResult TTxMti::SetToSeqNo(int RecNo) {
  const int count = GetRecordCount();
  if (RecNo > 0 && count != 0) {
    if (RecNo <= count) {
      FCurrentRecord = RecNo;
      return DBIERR_NONE;
    }
    FCurrentRecord = count + 1;
    return DBIERR_EOF;
  }
  FCurrentRecord = 0;
  return DBIERR_BOF;
}

// ---- Reading ------------------------------------------------------------------------------

DBIResult TTxMti::tuxGetFbfrFld(unsigned long FldId, int Occ, void* Dest, int Size) {
  if (Occ < 0) return DBIERR_BOF;
  const Variant value = FFbfr->GetValues(FldId, Occ);
  if (VarIsNull(value)) return DBIERR_REQDERR;
  const int type = Fldtype32(static_cast<FLDID32>(FldId));
  auto* dest = static_cast<unsigned char*>(Dest);
  switch (type) {
    case FLD_SHORT:
    case FLD_LONG: {
      const std::int32_t number = value.AsInteger();
      std::memcpy(dest, &number, static_cast<std::size_t>(std::min<int>(Size, sizeof number)));
      break;
    }
    case FLD_CHAR: {
      const AnsiString text = value.AsString();
      dest[0] = text.IsEmpty() ? 0 : static_cast<unsigned char>(text[1]);
      break;
    }
    case FLD_FLOAT:
    case FLD_DOUBLE: {
      const double number = value.AsDouble();
      std::memcpy(dest, &number, static_cast<std::size_t>(std::min<int>(Size, sizeof number)));
      break;
    }
    case FLD_STRING: {
      const AnsiString text = value.AsString();
      std::memset(dest, 0, static_cast<std::size_t>(Size));
      const int length = std::min(text.Length(), Size - 1);
      if (length > 0) std::memcpy(dest, text.data(), static_cast<std::size_t>(length));
      break;
    }
    default: {
      const AnsiString name = FbfrTypeName(FldId);
      throw Exception("Nieobsługiwany typ %d (%s) pola <%d>"_ansi, {type, name, FldId});
    }
  }
  return DBIERR_NONE;
}

double TTxMti::ParseDateTimeText(const char* Text) {
  int year = 1899, month = 1, day = 1, hour = 0, minute = 0, second = 0, msec = 0;
  const int items =
      std::sscanf(Text, "%d-%d-%d %d:%d:%d.%d", &year, &month, &day, &hour, &minute, &second, &msec);
  if (items < 2) ShowMessage("Format daty-czasu w buforze FML inny niż 'YYYY-MM-DD hh:mm:ss[.fff]'"_ansi);
  const double date = static_cast<double>(EncodeDate(year, month, day));
  double time = static_cast<double>(EncodeTime(hour, minute, second, msec));
  if (date < 0) time = -time;
  return date + time;
}

// One cell as GetValues delivers it, read in place: the null values of the
// numeric types and empty texts are blank, dates and times get their logical
// type's shift, texts their code-page translation. Anything out of the
// ordinary (a long beyond 32 bits, a text longer than its slot) goes the
// general way through GetValues.
DBIResult TTxMti::ReadCell(const TColumn& Col, int Occ, unsigned char* Slot, bool& Found) {
  FLDLEN32 length = 0;
  const char* value = Ffind32(FFbfr->GetFbfrP(), static_cast<FLDID32>(Col.Id), Occ, &length);
  if (!value) {
    if (Ferror32 != 0 && Ferror32 != FNOTPRES) CheckFerror(OpLabel(AnsiString()), Col.Id);
    Ferror32 = 0;
    Slot[0] = 0;  // a column with fewer occurrences than the first reads as blank
    return DBIERR_NONE;
  }
  unsigned char* data = Slot + 1;
  Found = true;
  if (Col.Blob) {
    std::memset(data, 0, static_cast<std::size_t>(Col.DataSize));
    Slot[0] = (Col.Type == FLD_STRING ? length > 1 && value[0] != '\0' : length > 0) ? 1 : 0;
    return DBIERR_NONE;
  }
  Slot[0] = 1;
  switch (Col.Type) {
    case FLD_SHORT:
    case FLD_LONG: {
      long number = 0;
      if (Col.Type == FLD_SHORT) {
        short small = 0;
        std::memcpy(&small, value, sizeof small);
        if (small == kNullShort) break;
        number = small;
      } else {
        std::memcpy(&number, value, sizeof number);
        if (number == kNullLong) break;
      }
      if (Col.Logical == txlftDate) number += 1;
      if (number < INT32_MIN || number > INT32_MAX) return ReadColumn(Col, Occ, Slot, Found);
      const auto result = static_cast<std::int32_t>(number);
      std::memcpy(data, &result, sizeof result);
      return DBIERR_NONE;
    }
    case FLD_CHAR:
      if (value[0] == '\0') break;
      data[0] = static_cast<unsigned char>(value[0]);
      return DBIERR_NONE;
    case FLD_FLOAT: {
      float single = 0;
      std::memcpy(&single, value, sizeof single);
      if (BadFloat(single) || single == kNullFloat) break;
      const double result = single;
      std::memcpy(data, &result, sizeof result);
      return DBIERR_NONE;
    }
    case FLD_DOUBLE: {
      double result = 0;
      std::memcpy(&result, value, sizeof result);
      if (BadDouble(result) || result == kNullDouble) break;
      if (result < 0.0 && Col.Logical == txlftTime) result += 1.0;
      std::memcpy(data, &result, sizeof result);
      return DBIERR_NONE;
    }
    case FLD_STRING: {
      if (value[0] == '\0') break;
      const std::size_t textLength = strnlen(value, static_cast<std::size_t>(length));
      if (Col.DateTimeText || textLength >= static_cast<std::size_t>(Col.DataSize))
        return ReadColumn(Col, Occ, Slot, Found);
      std::memcpy(data, value, textLength);
      std::memset(data + textLength, 0, static_cast<std::size_t>(Col.DataSize) - textLength);
      TTxGlobalClient::TranslateString(data, false);
      return DBIERR_NONE;
    }
    default: return ReadColumn(Col, Occ, Slot, Found);
  }
  Slot[0] = 0;  // the type's null value
  return DBIERR_NONE;
}

DBIResult TTxMti::ReadColumn(const TColumn& Col, int Occ, unsigned char* Slot, bool& Found) {
  unsigned char* data = Slot + 1;
  DBIResult result = DBIERR_NONE;
  if (Col.Blob) {
    std::memset(data, 0, static_cast<std::size_t>(Col.DataSize));
    Slot[0] = FFbfr->ValueLength(Col.Id, Occ) > 0 ? 1 : 0;
    Found = true;
    return DBIERR_NONE;
  }
  if (Col.DateTimeText) {
    char text[kDateTimeTextSize];
    result = tuxGetFbfrFld(Col.Id, Occ, text, kDateTimeTextSize);
    if (result == DBIERR_NONE) {
      const double value = ParseDateTimeText(text);
      std::memcpy(data, &value, sizeof value);
    }
  } else {
    result = tuxGetFbfrFld(Col.Id, Occ, data, Col.DataSize);
  }
  switch (result) {
    case DBIERR_NONE:
      Slot[0] = 1;
      Found = true;
      return DBIERR_NONE;
    case DBIERR_BOF:
    case DBIERR_EOF: return result;
    case DBIERR_REQDERR:
      Slot[0] = 0;
      Found = true;
      return DBIERR_NONE;
    default: Slot[0] = 0; return DBIERR_NONE;
  }
}

DBIResult TTxMti::GetRecord(DBILockType /*Lock*/, void* RecBuf, RECProps* Props) {
  return ReadRecord(GetRecordCount(), RecBuf, Props);
}

DBIResult TTxMti::ReadRecord(int Count, void* RecBuf, RECProps* Props) {
  if (FCurrentRecord < 1) return DBIERR_BOF;
  if (FCurrentRecord > Count) return DBIERR_EOF;
  const int occ = !FRows ? FCurrentRecord - 1 : tuxOccFromRecNo(FCurrentRecord);
  auto* record = static_cast<unsigned char*>(RecBuf);
  const std::int32_t header = FCurrentRecord;
  std::memcpy(record, &header, sizeof header);
  if (FLayoutStale) RefreshLayout();
  bool found = false;
  for (int k = 1; k <= FFieldCount; ++k) {
    const TColumn& col = k <= FLayoutColumns ? FColumns[static_cast<std::size_t>(k)] : Column(k);
    const DBIResult result = occ < 0 ? ReadColumn(col, occ, record + col.Offset, found)
                                     : ReadCell(col, occ, record + col.Offset, found);
    if (result != DBIERR_NONE) return result;
  }
  if (!found) return DBIERR_EOF;
  if (FFilterActive && FFilter) {
    if (FFilter(RecBuf, FCurrentRecord) == 0) return DBIERR_NOCURRREC;
    AddFilteredRecord(occ + 1);
  }
  if (Props) {
    Props->iSeqNum = FCurrentRecord;
    Props->iPhyRecNum = occ;
    Props->bDeleteFlag = false;
  }
  return DBIERR_NONE;
}

DBIResult TTxMti::GetNextRecord(DBILockType /*Lock*/, void* RecBuf, RECProps* Props) {
  const int count = GetRecordCount();
  if (FCurrentRecord > count) return DBIERR_EOF;
  DBIResult result;
  do {
    ++FCurrentRecord;
    result = ReadRecord(count, RecBuf, Props);
  } while (result == DBIERR_NOCURRREC);
  return result;
}

DBIResult TTxMti::GetPriorRecord(DBILockType /*Lock*/, void* RecBuf, RECProps* Props) {
  if (FCurrentRecord < 1) return DBIERR_BOF;
  const int count = GetRecordCount();
  DBIResult result;
  do {
    --FCurrentRecord;
    result = ReadRecord(count, RecBuf, Props);
  } while (result == DBIERR_NOCURRREC);
  return result;
}

// ---- Writing ----------------------------------------------------------------------------------

DBIResult TTxMti::tuxSetFbfrFld(unsigned long FldId, int Occ, const void* Data, int Length) {
  if (Occ >= 0 && Occ > FFbfr->OccCount(FldId) - 1)
    throw Exception("Brak oczekiwanego wystąpienia %d pola <%d>"_ansi, {Occ, FldId});
  const int type = Fldtype32(static_cast<FLDID32>(FldId));
  Variant value;  // unassigned: the field type's null value
  const auto* data = static_cast<const char*>(Data);
  if (data) {
    switch (type) {
      case FLD_SHORT:
      case FLD_LONG: {
        if (Length != 4) throw Exception("Rozmiar pola całkowitoliczbowego inny niż sizeof int"_ansi);
        std::int32_t number = 0;
        std::memcpy(&number, data, sizeof number);
        value = Variant(static_cast<int>(number));
        break;
      }
      case FLD_CHAR: value = Variant(AnsiString(data, Length)); break;
      case FLD_STRING:
        // The stored text ends at the first zero byte, so the slot's padding goes no further.
        value = Variant(AnsiString(data, static_cast<int>(strnlen(data, static_cast<std::size_t>(Length)))));
        break;
      case FLD_FLOAT:
      case FLD_DOUBLE: {
        if (Length != 8) throw Exception("Rozmiar pola zmiennoprzecinkowego inny niż sizeof double"_ansi);
        double number = 0;
        std::memcpy(&number, data, sizeof number);
        value = Variant(number);
        break;
      }
      case FLD_CARRAY: value = Variant(AnsiString(data, Length)); break;
      default: {
        const AnsiString name = FbfrTypeName(FldId);
        throw Exception("Nieobsługiwany typ %d (%s) pola <%d>"_ansi, {type, name, FldId});
      }
    }
  }
  if (Occ < 0) {
    FFbfr->AppendOcc(FldId, value);
  } else {
    FFbfr->SetValues(FldId, Occ, data ? value : Variant(Null()));
  }
  return DBIERR_NONE;
}

DBIResult TTxMti::tuxPutRecord(int RecNo, unsigned char* RecBuf) {
  const int occ = RecNo >= 0 ? tuxOccFromRecNo(RecNo) : -1;
  if (FLayoutStale) RefreshLayout();
  for (int k = 1; k <= FFieldCount; ++k) {
    const TColumn& col = Column(k);
    const unsigned char* slot = RecBuf + col.Offset;
    const char* data = reinterpret_cast<const char*>(slot + 1);
    int length = 0;
    if (col.Blob) {
      std::int32_t handle = 0;
      std::memcpy(&handle, data, sizeof handle);
      if (handle != 0) {
        const auto entry = static_cast<std::size_t>(handle - 1);
        if (handle < 0 || entry >= FBlobList.size() || !FBlobList[entry])
          throw Exception("Uchwyt BLOB wskazuje na NULL"_ansi);
        const AnsiString& blob = *FBlobList[entry];
        length = blob.Length();
        data = length > 0 ? blob.data() : nullptr;
      } else {
        length = occ < 0 ? 0 : -1;
      }
    } else if (slot[0] != 0) {
      length = col.DataSize;
    } else {
      data = nullptr;
      length = 0;
    }
    if (length < 0) continue;
    std::string text;
    if (data && col.DateTimeText) {
      double value = 0;
      std::memcpy(&value, data, sizeof value);
      text = DateTimeText(value);
      data = text.c_str();
      length = static_cast<int>(text.size());
    }
    tuxSetFbfrFld(col.Id, occ, data, length);
  }
  if (occ < 0) {
    OrderAfterAppend(GetRecordCount() - 1);
  } else {
    OrderAfterChange(occ);
  }
  return DBIERR_NONE;
}

DBIResult TTxMti::AppendRecord(void* RecBuf) {
  const DBIResult result = tuxPutRecord(-1, static_cast<unsigned char*>(RecBuf));
  if (result == DBIERR_NONE) FCurrentRecord = GetRecordCount();
  return result;
}

DBIResult TTxMti::ModifyRecord(void* RecBuf, bool /*Release*/) {
  return tuxPutRecord(FCurrentRecord, static_cast<unsigned char*>(RecBuf));
}

DBIResult TTxMti::InsertRecord(DBILockType /*Lock*/, void* /*RecBuf*/) {
  throw Exception("Wstawianie rekordu w środku nie jest zaimplementowane"_ansi);
}

DBIResult TTxMti::tuxDelFbfrFld(unsigned long FldId, int Occ) {
  Fdel32(FFbfr->GetFbfrP(), static_cast<FLDID32>(FldId), Occ);
  if (Ferror32 != 0) CheckFerror(OpLabel(AnsiString()), FldId);
  return DBIERR_NONE;
}

DBIResult TTxMti::DeleteRecord(void* /*RecBuf*/) {
  const int occ = tuxOccFromRecNo(FCurrentRecord);
  for (int k = 1; k <= FFieldCount; ++k)
    tuxDelFbfrFld(static_cast<unsigned long>(FFldDefMap[static_cast<std::size_t>(k)]->GetTxFldId()), occ);
  DelFilteredRecord(FCurrentRecord);
  OrderAfterDelete(occ);
  return DBIERR_NONE;
}

// ---- Fields of a record buffer ---------------------------------------------------------------

DBIResult TTxMti::GetField(int FieldNo, void* RecBuf, void* Dest, bool* Blank) {
  const TColumn& col = Column(FieldNo);
  const unsigned char* slot = static_cast<unsigned char*>(RecBuf) + col.Offset;
  if (Blank) *Blank = slot[0] == 0;
  if (Dest) std::memcpy(Dest, slot + 1, static_cast<std::size_t>(col.DataSize));
  return DBIERR_NONE;
}

DBIResult TTxMti::PutField(int FieldNo, void* RecBuf, const void* Src) {
  const TColumn& col = Column(FieldNo);
  unsigned char* slot = static_cast<unsigned char*>(RecBuf) + col.Offset;
  slot[0] = Src ? 1 : 0;
  if (Src) {
    std::memcpy(slot + 1, Src, static_cast<std::size_t>(col.DataSize));
  } else {
    std::memset(slot + 1, 0, static_cast<std::size_t>(col.DataSize));
  }
  return DBIERR_NONE;
}

DBIResult TTxMti::InitRecord(void* RecBuf) {
  if (!RecBuf) return DBIERR_INVALIDPARAM;
  if (FLayoutStale) RefreshLayout();
  if (FRecordSize < 0) Column(FFieldCount);  // raises the layout's error
  std::memset(RecBuf, 0, static_cast<std::size_t>(FRecordSize));
  return DBIERR_NONE;
}

// ---- Cursor --------------------------------------------------------------------------------

DBIResult TTxMti::GetCursorProps(CURProps* Props) {
  tuxUpdateTxFldDefMap();
  RefreshLayout();
  if (FRecordSize < 0) Column(FFieldCount);
  Props->iFields = FFieldCount;
  Props->iRecBufSize = FRecordSize;
  Props->iBookMarkSize = 4;
  Props->iSeqNums = 1;
  Props->iRefIntChecks = 0;
  if (FFieldCount > 0) {
    const int first = FFbfr->OccCount(static_cast<unsigned long>(FFldDefMap[1]->GetTxFldId()));
    for (int k = 1; k <= FFieldCount; ++k) {
      if (FFbfr->OccCount(static_cast<unsigned long>(FFldDefMap[static_cast<std::size_t>(k)]->GetTxFldId())) !=
          first) {
        Props->iRefIntChecks = k;
        break;
      }
    }
  }
  return DBIERR_NONE;
}

DBIResult TTxMti::Open() {
  if (open) throw Exception("Previous cursor not closed");
  tuxUpdateTxFldDefMap();
  open = true;
  return DBIERR_NONE;
}

DBIResult TTxMti::CloseCursor() {
  MakeIndex(AnsiString());
  open = false;
  DropFilter(1);
  return DBIERR_NONE;
}

// ---- Bookmarks ----------------------------------------------------------------------------------

DBIResult TTxMti::GetBookMark(void* Bookmark) {
  const std::int32_t occ = tuxOccFromRecNo(FCurrentRecord);
  std::memcpy(Bookmark, &occ, sizeof occ);
  return DBIERR_NONE;
}

DBIResult TTxMti::SetToBookMark(void* Bookmark) {
  if (!Bookmark) return DBIERR_INVALIDPARAM;
  std::int32_t occ = 0;
  std::memcpy(&occ, Bookmark, sizeof occ);
  const int recNo = tuxRecNoFromOcc(occ);
  if (recNo == -1) return DBIRES_BOOKMARKNOTFOUND;
  if (recNo <= 0) return DBIERR_BOF;
  if (recNo > GetRecordCount()) return DBIERR_EOF;
  FCurrentRecord = recNo;
  return DBIERR_NONE;
}

bool TTxMti::BookmarkValid(void* Bookmark) {
  if (!Bookmark) return false;
  std::int32_t occ = 0;
  std::memcpy(&occ, Bookmark, sizeof occ);
  const int recNo = tuxRecNoFromOcc(occ);
  return recNo != -1 && recNo >= 1 && recNo <= GetRecordCount();
}

DBIResult TTxMti::CompareBookmarks(void* Bookmark1, void* Bookmark2, int* Result) {
  if (!Bookmark1 || !Bookmark2) return DBIERR_INVALIDPARAM;
  std::int32_t occ1 = 0, occ2 = 0;
  std::memcpy(&occ1, Bookmark1, sizeof occ1);
  std::memcpy(&occ2, Bookmark2, sizeof occ2);
  *Result = occ1 == occ2 ? 0 : (occ1 > occ2 ? 1 : -1);
  return DBIERR_NONE;
}

// ---- Filter -------------------------------------------------------------------------------------

DBIResult TTxMti::AddFilter(TTxRecordFilter Filter, int& Handle) {
  if (FFilter) return DBIERR_NA;
  FFilter = Filter;
  Handle = 1;
  return DBIERR_NONE;
}

DBIResult TTxMti::DropFilter(int Handle) {
  if (Handle != 1) return DBIERR_NOSUCHFILTER;
  FFilter = nullptr;
  return DeactivateFilter(1);
}

DBIResult TTxMti::ActivateFilter(int Handle) {
  if (Handle != 1) return DBIERR_NOSUCHFILTER;
  FFilterActive = 1;
  ClearFilteredTab();
  return DBIERR_NONE;
}

DBIResult TTxMti::DeactivateFilter(int Handle) {
  if (Handle != 1) return DBIERR_NOSUCHFILTER;
  FFilterActive = 0;
  return DBIERR_NONE;
}

void TTxMti::ClearFilteredTab() {
  FFilteredChunks.clear();
  FFilteredCount = 0;
}

void TTxMti::AddFilteredRecord(int Key) {
  if (Key < 0) return;
  const auto chunk = static_cast<std::size_t>(Key / kFilterChunk);
  while (FFilteredChunks.size() <= chunk)
    FFilteredChunks.push_back(std::make_unique<unsigned char[]>(kFilterChunk));  // zeroed
  unsigned char& flag = FFilteredChunks[chunk][static_cast<std::size_t>(Key % kFilterChunk)];
  if (flag == 0) {
    flag = 1;
    ++FFilteredCount;
  }
}

void TTxMti::DelFilteredRecord(int Key) {
  if (Key < 0) return;
  const auto chunk = static_cast<std::size_t>(Key / kFilterChunk);
  if (chunk >= FFilteredChunks.size()) return;
  unsigned char& flag = FFilteredChunks[chunk][static_cast<std::size_t>(Key % kFilterChunk)];
  if (flag == 1) {
    flag = 0;
    --FFilteredCount;
  }
}

int TTxMti::GetFilteredRecordCount() {
  if (FFilterActive && FFilter) return FFilteredCount;
  return GetRecordCount();
}

// ---- Sort order -----------------------------------------------------------------------------------

void TTxMti::MakeIndexInfo(const AnsiString& Expression) {
  FSortInfo.Owner = this;
  FSortInfo.KeyCount = 0;
  const std::string text = Expression.str().substr(0, kMaxExpressionLength);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    TSortKey key;
    std::size_t i = start;
    for (; i < end; ++i) {
      const char c = text[i];
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') break;
      if (c == '\\') {
        key.Descending = true;
      } else if (c == '^') {
        key.CaseInsensitive = false;
      } else if (c == '%') {
        key.WordSort = true;
      } else {
        throw Exception("Zły znak specjalny ("_ansi + AnsiString(&c, 1) + ") dla sortowania pola");
      }
    }
    const AnsiString name(text.substr(i, end - i));
    const TTxFbfrFldDef* def = GetTxFbfr()->GetFldDefs()->FindFldDefByName(name);
    if (!def) throw Exception("Nie ma pola " + name);
    if (def->GetTxFldId() == 0)
      throw ETxFmlError("Pole " + name + "ma w definicji błędny identyfikator <"_ansi +
                        AnsiString(def->GetTxFldId()) + ">");
    if (tuxIsBlobFld(const_cast<TTxFbfrFldDef*>(def)))
      throw Exception("Pole " + name + " typu BLOB niedopuszczalne w indeksie");
    if (FSortInfo.KeyCount == kMaxSortKeys)
      throw Exception("Za dużo pól w wyrażeniu indeksu (najwyżej %d)"_ansi, {kMaxSortKeys});
    key.Name = AnsiString(name.str().substr(0, kMaxKeyName));
    key.FldId = static_cast<unsigned long>(def->GetTxFldId());
    FSortInfo.Keys[static_cast<std::size_t>(FSortInfo.KeyCount++)] = key;
    start = end + 1;
  }
}

void TTxMti::FreeOrder() noexcept { FRows.reset(); }

bool TTxMti::OrderMatches(int Count) const noexcept { return FRows && FRows->Count() == Count; }

// A key value read in place, as GetValues gives it; false when it takes the
// general way (absent occurrences, longs beyond 32 bits, other types).
bool TTxMti::ReadKeyValue(const TSortKey& Key, int Occ, bool& IsNull, double& Number, std::string& Text) {
  FLDLEN32 length = 0;
  const char* value = Ffind32(FFbfr->GetFbfrP(), static_cast<FLDID32>(Key.FldId), Occ, &length);
  if (!value) {
    Ferror32 = 0;
    return false;
  }
  IsNull = false;
  switch (Key.Type) {
    case FLD_SHORT:
    case FLD_LONG: {
      long number = 0;
      if (Key.Type == FLD_SHORT) {
        short small = 0;
        std::memcpy(&small, value, sizeof small);
        IsNull = small == kNullShort;
        number = small;
      } else {
        std::memcpy(&number, value, sizeof number);
        IsNull = number == kNullLong;
      }
      if (Key.Logical == txlftDate) number += 1;
      Number = static_cast<double>(number);
      return true;
    }
    case FLD_FLOAT: {
      float single = 0;
      std::memcpy(&single, value, sizeof single);
      IsNull = BadFloat(single) || single == kNullFloat;
      Number = single;
      return true;
    }
    case FLD_DOUBLE: {
      std::memcpy(&Number, value, sizeof Number);
      IsNull = BadDouble(Number) || Number == kNullDouble;
      if (Number < 0.0 && Key.Logical == txlftTime) Number += 1.0;
      return true;
    }
    case FLD_CHAR:
      IsNull = value[0] == '\0';
      Text.assign(value, 1);
      return true;
    case FLD_STRING:
      IsNull = value[0] == '\0';
      Text.assign(value, strnlen(value, static_cast<std::size_t>(length)));
      TTxGlobalClient::TranslateString(reinterpret_cast<unsigned char*>(Text.data()), false);
      return true;
    default: return false;
  }
}

std::string TTxMti::BuildKey(int Occ) {
  std::string key;
  std::string text;
  for (int i = 0; i < FSortInfo.KeyCount; ++i) {
    const TSortKey& sortKey = FSortInfo.Keys[static_cast<std::size_t>(i)];
    if (sortKey.FldId == 0)
      throw ETxFmlError("Pole " + sortKey.Name + "ma błędny identyfikator <"_ansi + AnsiString(sortKey.FldId) +
                        ">");
    const std::size_t start = key.size();
    bool isNull = false;
    double number = 0;
    if (!ReadKeyValue(sortKey, Occ, isNull, number, text)) {
      const Variant value = FFbfr->GetValues(sortKey.FldId, Occ);
      isNull = VarIsNull(value);
      if (!isNull && (sortKey.Type == FLD_STRING || sortKey.Type == FLD_CHAR)) {
        text = value.AsString().str();
      } else if (!isNull) {
        number = value.AsDouble();
      }
    }
    if (isNull) {
      key.push_back(kNullMarker);
    } else {
      key.push_back(kValueMarker);
      if (sortKey.Type == FLD_STRING || sortKey.Type == FLD_CHAR) {
        unsigned long flags = 0;
        if (sortKey.CaseInsensitive) flags |= NORM_IGNORECASE;
        if (!sortKey.WordSort) flags |= SORT_STRINGSORT;
        CompareStringKeyA(flags, text.data(), static_cast<int>(text.size()), key);
      } else {
        AppendOrderedDouble(key, number);
      }
    }
    if (sortKey.Descending)
      for (std::size_t j = start; j < key.size(); ++j) key[j] = static_cast<char>(~key[j]);
  }
  return key;
}

void TTxMti::FailIndex(const AnsiString& Message) {
  FreeOrder();
  throw Exception("Błąd: "_ansi + Message);
}

void TTxMti::BuildOrder(int Count) {
  FreeOrder();
  for (int i = 0; i < FSortInfo.KeyCount; ++i) {
    TSortKey& key = FSortInfo.Keys[static_cast<std::size_t>(i)];
    key.Type = Fldtype32(static_cast<FLDID32>(key.FldId));
    key.Logical = tuxGetFldLogicalType(key.FldId);
  }
  try {
    const auto n = static_cast<std::size_t>(Count);
    std::vector<std::string> keys(n);
    for (int occ = 0; occ < Count; ++occ) keys[static_cast<std::size_t>(occ)] = BuildKey(occ);
    // Sort by the keys' first sixteen bytes, and by the whole keys only where those tie.
    struct TEntry {
      std::uint64_t Head;
      std::uint64_t Next;
      int Occ;
    };
    auto bytesAt = [](const std::string& key, std::size_t from) {
      std::uint64_t word = 0;
      for (std::size_t j = from; j < from + 8; ++j)
        word = (word << 8) | (j < key.size() ? static_cast<unsigned char>(key[j]) : 0U);
      return word;
    };
    std::vector<TEntry> entries(n);
    for (std::size_t occ = 0; occ < n; ++occ)
      entries[occ] = {bytesAt(keys[occ], 0), bytesAt(keys[occ], 8), static_cast<int>(occ)};
    std::sort(entries.begin(), entries.end(), [&keys](const TEntry& a, const TEntry& b) {
      if (a.Head != b.Head) return a.Head < b.Head;
      if (a.Next != b.Next) return a.Next < b.Next;
      return keys[static_cast<std::size_t>(a.Occ)] < keys[static_cast<std::size_t>(b.Occ)];
    });
    std::vector<int> order(n);
    for (std::size_t pos = 0; pos < n; ++pos) order[pos] = entries[pos].Occ;
    entries = {};
    auto rows = std::make_unique<TTxSortedRows>();
    rows->Build(std::move(keys), order);
    FRows = std::move(rows);
  } catch (const std::bad_alloc&) {
    FreeOrder();
    throw EOutOfMemory("Brak pamięci na utworzenie indeksu"_ansi);
  } catch (const Exception& e) {
    FailIndex(e.Message);
  } catch (...) {
    FreeOrder();
    throw;
  }
}

void TTxMti::MakeIndex(const AnsiString& Expression) {
  FreeOrder();
  if (Expression != FIndexExpr) FSortInfo.KeyCount = 0;
  if (Expression.IsEmpty()) {
    FIndexExpr = AnsiString();
    return;
  }
  std::string normal;
  for (const char c : Expression.str())
    if (c != ' ' && c != '\t') normal.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  if (FSortInfo.KeyCount == 0) {
    try {
      MakeIndexInfo(AnsiString(normal));
    } catch (...) {
      FSortInfo.KeyCount = 0;  // no half-parsed keys for the next rebuild
      throw;
    }
  }
  BuildOrder(GetRecordCount());
  FIndexExpr = Expression;
}

void TTxMti::UpdateIndex() { MakeIndex(FIndexExpr); }

void TTxMti::SetIndexFlds(const AnsiString& Expression) {
  if (Expression != FIndexExpr) MakeIndex(Expression);
}

DBIResult TTxMti::SwitchToOrder(const AnsiString& Expression, bool KeepPosition) {
  const int occ = FCurrentRecord > 0 ? tuxOccFromRecNo(FCurrentRecord) : -1;
  SetIndexFlds(Expression);
  if (!KeepPosition) return DBIERR_NONE;
  if (occ < 0) {
    FCurrentRecord = 0;
    return DBIERR_NONE;
  }
  FCurrentRecord = tuxRecNoFromOcc(occ);
  if (FCurrentRecord == -1) {
    FCurrentRecord = 0;
    return DBIERR_NOCURRREC;
  }
  return DBIERR_NONE;
}

void TTxMti::OrderAfterChange(int Occ) {
  if (!FRows) return;
  if (!OrderMatches(GetRecordCount())) return UpdateIndex();
  std::string key;
  try {
    key = BuildKey(Occ);
  } catch (const Exception& e) {
    FailIndex(e.Message);
  }
  FRows->Change(Occ, std::move(key));
}

void TTxMti::OrderAfterAppend(int Occ) {
  if (!FRows) return;
  const int count = GetRecordCount();  // the appended record included
  if (!OrderMatches(count - 1) || Occ != count - 1) return UpdateIndex();
  std::string key;
  try {
    key = BuildKey(Occ);
  } catch (const Exception& e) {
    FailIndex(e.Message);
  }
  FRows->Append(std::move(key));
}

void TTxMti::OrderAfterDelete(int Occ) {
  if (!FRows) return;
  if (!OrderMatches(GetRecordCount() + 1)) return UpdateIndex();  // the deleted record counted
  FRows->Erase(Occ);
}

// ---- The comparison of two records -----------------------------------------------------------

namespace {
TTxMti* gSortOwner = nullptr;
}

int TTxMti::index_compare(const void* First, const void* Second) {
  if (!First) {
    gSortOwner = static_cast<TTxMti*>(const_cast<void*>(Second));
    return 0;
  }
  TTxMti* owner = gSortOwner;
  const int occA = owner->tuxOccFromRecNo(*static_cast<const int*>(First));
  const int occB = owner->tuxOccFromRecNo(*static_cast<const int*>(Second));
  const std::string a = owner->BuildKey(occA);
  const std::string b = owner->BuildKey(occB);
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace Tx
