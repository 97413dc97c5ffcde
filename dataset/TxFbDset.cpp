#include "dataset/TxFbDset.h"

#include <fml32.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "client/TxGlobal.h"
#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/TextCompare.h"

namespace Tx {

// The record-information block of a framework record buffer.
struct TTxFbfrDSet::TRecInfo {
  std::int32_t RecordNumber;
  std::uint8_t UpdateStatus;  // 0 unchanged, 2 inserted
  std::uint8_t BookmarkFlag;  // TBookmarkFlag
  std::uint8_t Reserved[2];
};
static_assert(sizeof(int) == 4 && alignof(std::int32_t) <= 8);

namespace {

constexpr int kRecInfoSize = 8;
constexpr int kMaxKeyFieldList = 1023;
constexpr std::uint8_t kUpdateStatusInserted = 2;

bool IsEditState(TDataSetState State) { return State == dsEdit || State == dsInsert; }

// Restores a saved value when the scope ends, exceptions included.
template <class T>
class TKeep {
 public:
  TKeep(T& Target, T Value) : FTarget(Target), FSaved(Target) { FTarget = Value; }
  ~TKeep() { FTarget = FSaved; }
  TKeep(const TKeep&) = delete;
  TKeep& operator=(const TKeep&) = delete;

 private:
  T& FTarget;
  T FSaved;
};

// Controls of a data set disabled for a scope.
class TControlsOff {
 public:
  explicit TControlsOff(TDataSet* DataSet) : FDataSet(DataSet) { FDataSet->DisableControls(); }
  ~TControlsOff() { FDataSet->EnableControls(); }
  TControlsOff(const TControlsOff&) = delete;
  TControlsOff& operator=(const TControlsOff&) = delete;

 private:
  TDataSet* FDataSet;
};

// The key value Locate compares field Index with.
Variant KeyValueAt(const Variant& KeyValues, std::size_t Count, std::size_t Index) {
  if (Count == 1 && !KeyValues.IsArray()) return KeyValues;
  return KeyValues.GetElement(VarArrayLowBound(KeyValues, 1) + static_cast<int>(Index));
}

// Text comparison of Locate: Field's text cut to the key's length for a
// partial key, both upper-cased for a case-insensitive one.
bool TextMatches(AnsiString FieldText, AnsiString KeyText, TLocateOptions Options) {
  if (Options.Contains(loPartialKey) && FieldText.Length() > KeyText.Length())
    FieldText = FieldText.SubString(1, KeyText.Length());
  if (Options.Contains(loCaseInsensitive)) {
    FieldText = AnsiUpperCase(FieldText);
    KeyText = AnsiUpperCase(KeyText);
  }
  return FieldText == KeyText;
}

// A byte map the way a per-byte text function treats each byte; false when
// the function does not keep lengths (then the map cannot stand for it).
template <class F>
bool ByteMapOf(F Function, std::array<unsigned char, 256>& Map) {
  std::string bytes(255, '\0');
  for (int b = 1; b < 256; ++b) bytes[static_cast<std::size_t>(b - 1)] = static_cast<char>(b);
  const AnsiString mapped = Function(AnsiString(bytes));
  if (mapped.Length() != 255) return false;
  Map[0] = 0;
  for (int b = 1; b < 256; ++b) Map[static_cast<std::size_t>(b)] = static_cast<unsigned char>(mapped[b]);
  return true;
}

AnsiString DateTimeTextOf(TDateTime Value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  DecodeDate(Value, year, month, day);
  DecodeTime(Value, hour, minute, second, msec);
  AnsiString text;
  text.sprintf("%.4d-%.2d-%.2d %.2d:%.2d:%.2d.", year, month, day, hour, minute, second);
  return text;
}

}  // namespace

// ---- Construction -------------------------------------------------------------------

TTxFbfrDSet::TTxFbfrDSet(TComponent* AOwner) : TDataSet(AOwner), FMti(std::make_unique<TTxMti>()) {}

TTxFbfrDSet::~TTxFbfrDSet() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // A destructor reports nothing; the engine and its BLOBs go below.
  }
}

TTxFbfr* TTxFbfrDSet::GetTxFbfr() { return FMti->GetTxFbfr(); }

void TTxFbfrDSet::SetTxFbfr(TTxFbfr* Value) {
  FMti->SetTxFbfr(Value);
  FieldDefs()->SetUpdated(false);
}

TTxFbfr* TTxFbfrDSet::AssignedFbfr() {
  try {
    return GetTxFbfr();
  } catch (const Exception&) {
    return nullptr;
  }
}

void TTxFbfrDSet::SetFldGroup(int Value) {
  if (Value < -1) throw EPropertyError("Dopuszczalne wartości to -1,0,1,2,..."_ansi);
  FMti->SetTxFldGroup(Value);
  FieldDefs()->SetUpdated(false);
}

void TTxFbfrDSet::SetReadOnly(bool Value) {
  CheckInactive();
  FReadOnly = Value;
}

// ---- Opening and closing ------------------------------------------------------------------

void TTxFbfrDSet::OpenCursor(bool InfoQuery) {
  if (!AssignedFbfr()) throw Exception("TxFbfr is not assigned");
  FMti->Open();
  TDataSet::OpenCursor(InfoQuery);
}

void TTxFbfrDSet::InternalOpen() {
  TTxFbfr* fbfr = AssignedFbfr();
  if (!fbfr) throw ENoRecordSet("TxFbfr is not assigned");
  if (fbfr->GetFldDefs()->Count() == 0) throw ENoRecordSet("No field defs in FML");
  CURProps props;
  DbiCheck(FMti->GetCursorProps(&props));
  FSeqKind = static_cast<unsigned char>(props.iSeqNums);
  FRecordSize = static_cast<unsigned short>(props.iRecBufSize);
  SetBookmarkSize(props.iBookMarkSize);
  FCanModify = true;
  if (props.iRefIntChecks != 0) {
    FCanModify = false;
    const AnsiString name = FMti->tuxFldDefByFieldNo(props.iRefIntChecks)->GetTxFldName();
    Application->MessageBox("Pole "_ansi + name +
                                " ma inną liczbę wystąpień niż poprzednie pola.\nRekordy zostały udostępnione "
                                "tylko do odczytu."_ansi,
                            Application->Title(), MB_OK | MB_ICONWARNING);
  }
  FieldDefs()->SetUpdated(false);
  FieldDefs()->Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  FBoundFields.clear();
  for (int i = 0; i < FieldCount(); ++i) FBoundFields.push_back(Fields()->Fields(i));
  InitBufferPointers(false);
  FMti->SetToBegin();
  FMti->SetIndexFlds(FIndexExpr);
  if (OnFilterRecord()) DbiCheck(FMti->AddFilter(TTxRecordFilter(this, &TTxFbfrDSet::RecordFilter), FFilterHandle));
  if (Filtered()) ActivateFilters();
}

void TTxFbfrDSet::InternalInitFieldDefs() {
  CURProps props;
  DbiCheck(FMti->GetCursorProps(&props));
  FieldDefs()->Clear();
  FMti->CreateFieldDefs(FieldDefs());
}

void TTxFbfrDSet::InitBufferPointers(bool GetProps) {
  if (GetProps) {
    CURProps props;
    DbiCheck(FMti->GetCursorProps(&props));
    SetBookmarkSize(props.iBookMarkSize);
    FRecordSize = static_cast<unsigned short>(props.iRecBufSize);
  }
  // The areas behind the calculated fields start on pointer boundaries.
  constexpr int alignment = alignof(void*);
  FBlobCacheOffset = (FRecordSize + CalcFieldsSize() + alignment - 1) / alignment * alignment;
  FRecInfoOffset = FBlobCacheOffset + static_cast<int>(sizeof(void*)) * BlobFieldCount();
  FBookmarkOffset = FRecInfoOffset + kRecInfoSize;
  FRecBufSize = FBookmarkOffset + BookmarkSize();
  FColumns.clear();
  for (int i = 0; i < FieldDefs()->Count(); ++i) {
    const TFieldDef* def = FieldDefs()->Items(i);
    FColumns.push_back({def->DataType(), FMti->FldBufSize(i + 1) - 1, def->Size(), FMti->FldBufOffset(i + 1)});
  }
}

void TTxFbfrDSet::InternalClose() {
  FFilterHandle = 0;
  FBoundFields.clear();
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FCanModify = false;
}

void TTxFbfrDSet::CloseCursor() {
  TDataSet::CloseCursor();
  FMti->CloseCursor();
}

bool TTxFbfrDSet::IsCursorOpen() { return FMti && FMti->open; }

void TTxFbfrDSet::InternalHandleException() { Application->HandleException(this); }

// ---- Record buffers -----------------------------------------------------------------------

TTxFbfrDSet::TRecInfo& TTxFbfrDSet::RecInfo(char* Buffer) const noexcept {
  return *reinterpret_cast<TRecInfo*>(Buffer + FRecInfoOffset);
}

char* TTxFbfrDSet::AllocRecordBuffer() {
  char* buffer = new (std::nothrow) char[static_cast<std::size_t>(FRecBufSize)]();
  if (!buffer) {
    MessageBeep(0);
    throw EOutOfMemory("Brak pamięci na bufor rekordu"_ansi);
  }
  return buffer;
}

void TTxFbfrDSet::FreeRecordBuffer(char*& Buffer) {
  if (!Buffer) {
    MessageBeep(0);
    throw Exception("Do zwolnienia pamięć NULL!"_ansi);
  }
  delete[] Buffer;
  Buffer = nullptr;
}

unsigned short TTxFbfrDSet::GetRecordSize() { return FRecordSize; }

void TTxFbfrDSet::InternalInitRecord(char* Buffer) { DbiCheck(FMti->InitRecord(Buffer)); }

void TTxFbfrDSet::InitRecord(char* Buffer) {
  TDataSet::InitRecord(Buffer);
  TRecInfo& info = RecInfo(Buffer);
  info.RecordNumber = -1;
  info.UpdateStatus = kUpdateStatusInserted;
  info.BookmarkFlag = bfInserted;
}

void TTxFbfrDSet::ClearCalcFields(char* Buffer) {
  if (CalcFieldsSize() > 0) std::memset(Buffer + FRecordSize, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

TGetResult TTxFbfrDSet::GetRecord(char* Buffer, TGetMode GetMode, bool DoCheck) {
  DBIResult result = DBIERR_NONE;
  switch (GetMode) {
    case gmCurrent: result = FMti->GetRecord(dbiNOLOCK, Buffer, &FRecProps); break;
    case gmNext: result = FMti->GetNextRecord(dbiNOLOCK, Buffer, &FRecProps); break;
    case gmPrior: result = FMti->GetPriorRecord(dbiNOLOCK, Buffer, &FRecProps); break;
  }
  switch (result) {
    case DBIERR_NONE: {
      TRecInfo& info = RecInfo(Buffer);
      info.UpdateStatus = 0;
      info.BookmarkFlag = bfCurrent;
      info.RecordNumber = FSeqKind == 1 ? FRecProps.iSeqNum : (FSeqKind == 0 ? FRecProps.iPhyRecNum : -1);
      GetCalcFields(Buffer);
      // The bookmark is the occurrence the engine just read (what its
      // GetBookMark would answer, without counting the rows again).
      const std::int32_t occ = FRecProps.iPhyRecNum;
      std::memcpy(Buffer + FBookmarkOffset, &occ, sizeof occ);
      return grOK;
    }
    case DBIERR_BOF: return grBOF;
    case DBIERR_EOF: return grEOF;
    default:
      if (DoCheck) DbiCheck(result);
      return grError;
  }
}

// ---- Navigation and record numbers --------------------------------------------------------

void TTxFbfrDSet::InternalFirst() { FMti->SetToBegin(); }
void TTxFbfrDSet::InternalLast() { FMti->SetToEnd(); }

int TTxFbfrDSet::GetRecordCount() {
  CheckActive();
  return FMti->GetFilteredRecordCount();
}

int TTxFbfrDSet::GetRecNo() {
  CheckActive();
  char* buffer = nullptr;
  if (State() == dsCalcFields) {
    buffer = CalcBuffer();
  } else {
    if (IsEmpty()) return 0;
    buffer = ActiveBuffer();
  }
  return buffer ? RecInfo(buffer).RecordNumber : 0;
}

void TTxFbfrDSet::SetRecNo(int Value) {
  CheckBrowseMode();
  if (FSeqKind != 1 || Value == RecNo()) return;
  DoBeforeScroll();
  const bool moved = FMti->SetToSeqNo(Value) == DBIERR_NONE;
  CursorPosChanged();  // the engine moved, even to a crack
  if (moved) {
    Resync({rmCenter});
    DoAfterScroll();
  }
}

bool TTxFbfrDSet::IsSequenced() { return !Filtered(); }

bool TTxFbfrDSet::GetActiveRecBuf(char*& RecBuf) {
  switch (State()) {
    case dsBrowse: RecBuf = IsEmpty() ? nullptr : ActiveBuffer(); break;
    case dsEdit:
    case dsInsert: RecBuf = ActiveBuffer(); break;
    case dsCalcFields: RecBuf = CalcBuffer(); break;
    case dsFilter: RecBuf = FFilterBuffer; break;
    default: RecBuf = nullptr; break;
  }
  return RecBuf != nullptr;
}

// ---- Field values ----------------------------------------------------------------------------

bool TTxFbfrDSet::GetFieldData(TField* Field, void* Buffer, bool /*NativeFormat*/) {
  return GetFieldData(Field, Buffer);
}

bool TTxFbfrDSet::GetFieldData(TField* Field, void* Buffer) {
  if (Field->FieldNo() < 1) {
    const TDataSetState state = State();
    if (state != dsBrowse && !IsEditState(state) && state != dsCalcFields) return false;
    char* record = nullptr;
    if (!GetActiveRecBuf(record)) return false;
    const char* flag = record + FRecordSize + Field->Offset();
    const bool present = *flag != 0;
    if (present && Buffer) std::memcpy(Buffer, flag + 1, static_cast<std::size_t>(Field->DataSize()));
    return present;
  }
  // The fields take dates and times as date-time doubles.
  TKeep<bool> conversion(FNativeDateConversion, false);
  return GetFieldDataByNumber(Field->FieldNo(), Buffer);
}

bool TTxFbfrDSet::GetFieldData(int FieldNo, void* Buffer) { return GetFieldDataByNumber(FieldNo, Buffer); }

bool TTxFbfrDSet::GetFieldDataByNumber(int FieldNo, void* Buffer) {
  char* record = nullptr;
  if (!GetActiveRecBuf(record)) return false;
  const TColumnInfo* column =
      FieldNo >= 1 && FieldNo <= static_cast<int>(FColumns.size()) ? &FColumns[static_cast<std::size_t>(FieldNo - 1)]
                                                                   : nullptr;
  const TFieldType type = column ? column->DataType : ftUnknown;
  bool blank = true;
  if (type == ftDate) {
    std::int32_t days = 0;
    DbiCheck(FMti->GetField(FieldNo, record, &days, &blank));
    if (blank || !Buffer) return !blank;
    const TDateTime value(static_cast<double>(days));
    if (FNativeDateConversion) {
      int year = 0, month = 0, day = 0;
      DecodeDate(value, year, month, day);
      DBIDATE date = 0;
      DbiDateEncode(static_cast<unsigned short>(month), static_cast<unsigned short>(day),
                    static_cast<short>(year), &date);
      std::memcpy(Buffer, &date, sizeof date);
    } else {
      const double stored = value;
      std::memcpy(Buffer, &stored, sizeof stored);
    }
    return true;
  }
  if (type == ftDateTime) {
    double stored = 0.0;
    DbiCheck(FMti->GetField(FieldNo, record, &stored, &blank));
    if (blank || !Buffer) return !blank;
    if (FNativeDateConversion) {
      int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
      DecodeDate(TDateTime(stored), year, month, day);
      DecodeTime(TDateTime(stored), hour, minute, second, msec);
      DBIDATE date = 0;
      TIME time = 0;
      TIMESTAMP stamp = 0;
      DbiDateEncode(static_cast<unsigned short>(month), static_cast<unsigned short>(day),
                    static_cast<short>(year), &date);
      DbiTimeEncode(static_cast<unsigned short>(hour), static_cast<unsigned short>(minute),
                    static_cast<unsigned short>(second * 1000 + msec), &time);
      DbiTimeStampEncode(date, time, &stamp);
      std::memcpy(Buffer, &stamp, sizeof stamp);
    } else {
      std::memcpy(Buffer, &stored, sizeof stored);
    }
    return true;
  }
  if (column) {
    // The engine's GetField, read in place: the null indicator, then the data.
    const char* slot = record + column->Offset;
    blank = slot[0] == 0;
    if (Buffer) std::memcpy(Buffer, slot + 1, static_cast<std::size_t>(column->DataArea));
  } else {
    DbiCheck(FMti->GetField(FieldNo, record, Buffer, &blank));
  }
  // A one-character column's slot has no room for the terminating zero.
  if (type == ftString && Buffer && column->DataArea < column->Size + 1)
    static_cast<char*>(Buffer)[column->DataArea] = '\0';
  return !blank;
}

void TTxFbfrDSet::SetFieldData(TField* Field, void* Buffer, bool /*NativeFormat*/) { SetFieldData(Field, Buffer); }

void TTxFbfrDSet::SetFieldData(TField* Field, void* Buffer) {
  const TDataSetState state = State();
  switch (state) {
    case dsEdit:
    case dsInsert:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc: break;
    case dsSetKey: DatabaseError("Ustawianie klucza nie jest możliwe"_ansi, this);
    default: DatabaseError("DataSet not in editing mode", this);
  }
  char* record = nullptr;
  if (!GetActiveRecBuf(record)) throw Exception("Brak bufora aktywnego rekordu"_ansi);

  if (Field->FieldNo() < 1) {
    char* flag = record + FRecordSize + Field->Offset();
    *flag = Buffer ? 1 : 0;
    if (Buffer) std::memcpy(flag + 1, Buffer, static_cast<std::size_t>(Field->DataSize()));
  } else {
    if (state == dsCalcFields) DatabaseError("DataSet not in editing mode", this);
    if (Field->ReadOnly() && state != dsFilter) DatabaseErrorFmt("Field \"%s\" is read-only", {Field->DisplayName()});
    if (!FInRefresh) Field->Validate(Buffer);
    const int fieldNo = Field->FieldNo();
    if (Field->DataType() == ftDate && Buffer) {
      double value = 0.0;
      std::memcpy(&value, Buffer, sizeof value);
      const auto days = static_cast<std::int32_t>(std::trunc(value));
      DbiCheck(FMti->PutField(fieldNo, record, &days));
    } else if (Field->DataType() == ftString && Buffer && static_cast<const char*>(Buffer)[0] == '\0') {
      DbiCheck(FMti->PutField(fieldNo, record, nullptr));
    } else {
      DbiCheck(FMti->PutField(fieldNo, record, Buffer));
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<long>(Field));
}

// ---- Posting and deleting --------------------------------------------------------------------

void TTxFbfrDSet::DoOnUpdateRecord(TUpdateKind UpdateKind) {
  if (OnUpdateRecord) OnUpdateRecord(this, UpdateKind);
}

void TTxFbfrDSet::DoOnRefreshRow(TUpdateKind UpdateKind) {
  if (!OnRefreshRow) return;
  TKeep<bool> refreshing(FInRefresh, true);
  OnRefreshRow(this, UpdateKind);
}

void TTxFbfrDSet::InternalPost() {
  TDataSet::InternalPost();  // required fields
  if (State() == dsEdit) {
    DoOnUpdateRecord(ukModify);
    DoOnRefreshRow(ukModify);
    DbiCheck(FMti->ModifyRecord(ActiveBuffer(), true));
    // Under a sort order the row may have moved: stay on it.
    FMti->SetToBookMark(ActiveBuffer() + FBookmarkOffset);
    return;
  }
  DoOnUpdateRecord(ukInsert);
  DoOnRefreshRow(ukInsert);
  InternalAddRecord(ActiveBuffer(), true);
}

// The new row is the last occurrence; under a sort order the cursor goes
// wherever the order put it.
void TTxFbfrDSet::InternalAddRecord(void* /*Buffer*/, bool Append) {
  if (!Append) DbiCheck(FMti->InsertRecord(dbiNOLOCK, ActiveBuffer()));
  DbiCheck(FMti->AppendRecord(ActiveBuffer()));
  std::int32_t occ = FMti->GetRecordCount() - 1;
  FMti->SetToBookMark(&occ);
}

void TTxFbfrDSet::InternalDelete() {
  DoOnUpdateRecord(ukDelete);
  const DBIResult result = FMti->DeleteRecord(ActiveBuffer());
  // A row already gone is not an error here.
  if (result != DBIERR_NONE && (result & 0xFF00) != 0x2200) DbiCheck(result);
}

bool TTxFbfrDSet::GetCanModify() { return FCanModify && !FReadOnly; }

// ---- Bookmarks -------------------------------------------------------------------------------

void TTxFbfrDSet::GetBookmarkData(char* Buffer, void* Data) {
  std::memcpy(Data, Buffer + FBookmarkOffset, static_cast<std::size_t>(BookmarkSize()));
}

void TTxFbfrDSet::SetBookmarkData(char* Buffer, void* Data) {
  std::memcpy(Buffer + FBookmarkOffset, Data, static_cast<std::size_t>(BookmarkSize()));
}

TBookmarkFlag TTxFbfrDSet::GetBookmarkFlag(char* Buffer) {
  return static_cast<TBookmarkFlag>(RecInfo(Buffer).BookmarkFlag);
}

void TTxFbfrDSet::SetBookmarkFlag(char* Buffer, TBookmarkFlag Value) { RecInfo(Buffer).BookmarkFlag = Value; }

void TTxFbfrDSet::InternalGotoBookmark(void* Bookmark) { DbiCheck(FMti->SetToBookMark(Bookmark)); }

void TTxFbfrDSet::InternalSetToRecord(char* Buffer) { InternalGotoBookmark(Buffer + FBookmarkOffset); }

bool TTxFbfrDSet::BookmarkValid(TBookmark Bookmark) { return FMti->BookmarkValid(Bookmark); }

int TTxFbfrDSet::CompareBookmarks(TBookmark Bookmark1, TBookmark Bookmark2) {
  if (!Bookmark1 && !Bookmark2) return 0;
  if (!Bookmark1) return 1;
  if (!Bookmark2) return -1;
  if (!IsCursorOpen()) return 0;
  int result = 0;
  DbiCheck(FMti->CompareBookmarks(Bookmark1, Bookmark2, &result));
  return result;
}

// ---- Order -----------------------------------------------------------------------------------

void TTxFbfrDSet::SetIndexExpr(const AnsiString& Value) {
  if (Value == FIndexExpr) return;
  if (Active()) {
    CheckBrowseMode();
    try {
      SwitchToOrder(Value);
    } catch (...) {
      // The engine is back in the buffer's order: show that, and keep the
      // expression that failed out of IndexExpr.
      if (Active()) {
        FMti->SetIndexFlds(FIndexExpr);
        CursorPosChanged();
        Resync({});
      }
      throw;
    }
  }
  FIndexExpr = Value;
}

void TTxFbfrDSet::SwitchToOrder(const AnsiString& Expression) {
  UpdateCursorPos();
  // Off the rows (an empty data set after Last) the engine has no row to keep.
  if (FMti->GetCurrentRecord() > FMti->GetRecordCount()) FMti->SetToBegin();
  DBIResult result = FMti->SwitchToOrder(Expression, true);
  if (result == DBIERR_NOCURRREC) result = FMti->SwitchToOrder(Expression, false);
  DbiCheck(result);
  SetBufListSize(0);
  InitBufferPointers(true);
  try {
    SetBufListSize(BufferCount() + 1);
  } catch (...) {
    SetState(dsInactive);
    CloseCursor();
    throw;
  }
  Resync({});
}

// ---- Filter ----------------------------------------------------------------------------------

short TTxFbfrDSet::RecordFilter(void* RecBuf, int /*RecNo*/) {
  if (!OnFilterRecord()) return 1;
  const TDataSetState saved = SetTempState(dsFilter);
  char* savedBuffer = FFilterBuffer;
  FFilterBuffer = static_cast<char*>(RecBuf);
  bool accept = true;
  try {
    OnFilterRecord()(this, accept);
  } catch (...) {
    Application->HandleException(this);
  }
  FFilterBuffer = savedBuffer;
  RestoreState(saved);
  return accept ? 1 : 0;
}

void TTxFbfrDSet::SetFilterHandle(int& Handle, int NewHandle) {
  if (!Filtered()) {
    if (Handle != 0) FMti->DropFilter(Handle);
    Handle = NewHandle;
    return;
  }
  CursorPosChanged();
  FMti->SetToBegin();
  if (Handle != 0) FMti->DropFilter(Handle);
  Handle = NewHandle;
  if (NewHandle != 0) DbiCheck(FMti->ActivateFilter(NewHandle));
}

void TTxFbfrDSet::SetOnFilterRecord(const TFilterRecordEvent& Value) {
  if (!Active()) {
    TDataSet::SetOnFilterRecord(Value);
    return;
  }
  CheckBrowseMode();
  const bool had = static_cast<bool>(OnFilterRecord());
  const bool has = static_cast<bool>(Value);
  int newHandle = 0;
  if (!had && has) DbiCheck(FMti->AddFilter(TTxRecordFilter(this, &TTxFbfrDSet::RecordFilter), newHandle));
  if (had != has) SetFilterHandle(FFilterHandle, newHandle);
  TDataSet::SetOnFilterRecord(Value);  // goes to the first row when filtered
}

void TTxFbfrDSet::SetFiltered(bool Value) {
  if (!Active()) {
    TDataSet::SetFiltered(Value);
    return;
  }
  CheckBrowseMode();
  if (Value == Filtered()) {
    Refresh();
    return;
  }
  FMti->SetToBegin();
  if (Value)
    ActivateFilters();
  else
    DeactivateFilters();
  TDataSet::SetFiltered(Value);  // goes to the first row
}

void TTxFbfrDSet::ActivateFilters() {
  if (FFilterHandle == 0) return;
  if (FMti->ActivateFilter(FFilterHandle) == DBIERR_NONE) return;
  DbiCheck(FMti->DropFilter(FFilterHandle));
  DbiCheck(FMti->AddFilter(TTxRecordFilter(this, &TTxFbfrDSet::RecordFilter), FFilterHandle));
  DbiCheck(FMti->ActivateFilter(FFilterHandle));
}

void TTxFbfrDSet::DeactivateFilters() {
  if (FFilterHandle != 0) DbiCheck(FMti->DeactivateFilter(FFilterHandle));
}

// ---- BLOBs -----------------------------------------------------------------------------------

TStream* TTxFbfrDSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  auto* blob = dynamic_cast<TBlobField*>(Field);
  if (!blob) DatabaseErrorFmt(DbConsts::SNotABlobField, {Field->DisplayName()}, this);
  return new TTxBlobStream(blob, Mode);
}

void TTxFbfrDSet::CloseBlob(TField* Field) {
  char* record = nullptr;
  GetActiveRecBuf(record);
  FMti->FreeBlob(record, static_cast<unsigned short>(Field->FieldNo()));
}

void TTxFbfrDSet::ClearBlobCache(char* /*Buffer*/) {}
AnsiString TTxFbfrDSet::GetBlobData(TField* /*Field*/, char* /*Buffer*/) { return AnsiString(); }
void TTxFbfrDSet::SetBlobData(TField* /*Field*/, char* /*Buffer*/, const AnsiString& /*Value*/) {}

// ---- Search ----------------------------------------------------------------------------------

bool TTxFbfrDSet::Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  CheckBrowseMode();
  CursorPosChanged();
  std::vector<TField*> fields;
  GetFieldList(fields, KeyFields.Length() > kMaxKeyFieldList ? KeyFields.SubString(1, kMaxKeyFieldList) : KeyFields);
  if (fields.empty()) return false;
  int found = FindRowByText(fields, KeyValues, Options);
  if (found < 0) found = FindRowByFields(fields, KeyValues, Options);
  if (found == 0) return false;
  DoBeforeScroll();
  FMti->SetToSeqNo(found);
  Resync({rmExact, rmCenter});
  DoAfterScroll();
  return true;
}

// Text keys of an unfiltered data set: only the key columns are read, from
// the buffer itself, through the same translation and cut the fields see.
// -1 when the keys are not all text columns (the caller then reads rows).
int TTxFbfrDSet::FindRowByText(const std::vector<TField*>& Fields, const Variant& KeyValues,
                               TLocateOptions Options) {
  if (Filtered() && FFilterHandle != 0) return -1;
  struct TKey {
    FLDID32 Id;
    std::size_t Limit;  // characters the field keeps
    std::string Text;
    bool Char;
    const std::array<unsigned char, 256>* Map = nullptr;
  };
  std::vector<TKey> keys;
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    const TField* field = Fields[i];
    if (field->FieldKind() != fkData || field->DataType() != ftString || field->FieldNo() < 1) return -1;
    const Variant value = KeyValueAt(KeyValues, Fields.size(), i);
    if (VarIsNull(value) || value.IsEmpty()) return -1;
    TTxFbfrFldDef* def = FMti->tuxFldDefByFieldNo(field->FieldNo());
    const auto id = static_cast<FLDID32>(def->GetTxFldId());
    const int type = Fldtype32(id);
    if (type != FLD_STRING && type != FLD_CHAR) return -1;
    AnsiString text = VarToStr(value);
    if (Options.Contains(loCaseInsensitive)) text = AnsiUpperCase(text);
    const auto limit = static_cast<std::size_t>(type == FLD_CHAR ? 1 : def->GetMaxSize());
    // A key longer than the field can hold matches no row.
    if (text.str().size() > limit) return 0;
    keys.push_back({id, limit, text.str(), type == FLD_CHAR});
  }
  // Strings come from the server's code page; single characters do not.
  std::array<unsigned char, 256> stringMap{}, charMap{};
  const auto translate = [](AnsiString s) {
    TTxGlobalClient::TranslateString(s, false);
    return s;
  };
  const auto same = [](const AnsiString& s) { return s; };
  if (!ByteMapOf(translate, stringMap) || !ByteMapOf(same, charMap)) return -1;
  if (Options.Contains(loCaseInsensitive)) {
    std::array<unsigned char, 256> upper{};
    if (!ByteMapOf([](const AnsiString& s) { return AnsiUpperCase(s); }, upper)) return -1;
    for (unsigned char& b : stringMap) b = upper[b];
    for (unsigned char& b : charMap) b = upper[b];
  }
  for (TKey& key : keys) key.Map = key.Char ? &charMap : &stringMap;
  const bool partial = Options.Contains(loPartialKey);
  FBFR32* fbfr = GetTxFbfr()->GetFbfrP();
  auto matches = [&](FLDOCC32 occ) {
    for (const TKey& key : keys) {
      // The field's text is the stored one up to its zero byte, cut to Limit.
      FLDLEN32 length = 0;
      const char* stored = Ffind32(fbfr, key.Id, occ, &length);
      const std::size_t available = stored ? static_cast<std::size_t>(length) : 0;
      const std::size_t size = key.Text.size();
      for (std::size_t j = 0; j < size; ++j) {
        if (j >= available || stored[j] == '\0') return false;
        if ((*key.Map)[static_cast<unsigned char>(stored[j])] != static_cast<unsigned char>(key.Text[j]))
          return false;
      }
      // Without a partial key the text must end where the key does.
      if (!partial && size < key.Limit && size < available && stored[size] != '\0') return false;
    }
    return true;
  };
  const int count = FMti->GetRecordCount();
  int found = 0;
  if (FMti->GetIndexExpr().IsEmpty()) {
    // The buffer's order: the first matching occurrence is the first row.
    for (FLDOCC32 occ = 0; occ < count && found == 0; ++occ)
      if (matches(occ)) found = static_cast<int>(occ) + 1;
  } else {
    // A sort order: the matching occurrence shown first wins.
    for (FLDOCC32 occ = 0; occ < count && found != 1; ++occ) {
      if (!matches(occ)) continue;
      const int recNo = FMti->tuxRecNoFromOcc(occ);
      if (recNo > 0 && (found == 0 || recNo < found)) found = recNo;
    }
  }
  Ferror32 = 0;  // occurrences a shorter column lacks are not errors here
  return found;
}

// Any keys: each row is read (through the filter) into a buffer of its own
// and the fields compare it in the filter state.
int TTxFbfrDSet::FindRowByFields(const std::vector<TField*>& Fields, const Variant& KeyValues,
                                 TLocateOptions Options) {
  std::vector<char> scan(static_cast<std::size_t>(FRecBufSize));
  TKeep<char*> filterBuffer(FFilterBuffer, scan.data());
  const TDataSetState saved = SetTempState(dsFilter);
  struct TRestore {
    TTxFbfrDSet* Self;
    TDataSetState State;
    ~TRestore() { Self->RestoreState(State); }
  } restore{this, saved};
  TTxFbfr* fbfr = GetTxFbfr();
  RECProps props;
  FMti->SetToBegin();
  while (FMti->GetNextRecord(dbiNOLOCK, scan.data(), &props) == DBIERR_NONE) {
    bool match = true;
    for (std::size_t i = 0; i < Fields.size() && match; ++i) {
      TField* field = Fields[i];
      const Variant key = KeyValueAt(KeyValues, Fields.size(), i);
      if (field->IsBlob()) {
        // A BLOB is not open in the scan buffer: its value comes from the buffer.
        const auto id = static_cast<unsigned long>(FMti->tuxFldDefByFieldNo(field->FieldNo())->GetTxFldId());
        const Variant value = props.iPhyRecNum < fbfr->OccCount(id) ? fbfr->GetValues(id, props.iPhyRecNum)
                                                                     : Variant(Null());
        match = field->DataType() == ftMemo && !VarIsNull(key) ? TextMatches(VarToStr(value), VarToStr(key), Options)
                                                                : value == key;
      } else if (field->DataType() == ftString && !VarIsNull(key)) {
        match = TextMatches(field->AsString(), VarToStr(key), Options);
      } else {
        match = field->Value() == key;
      }
    }
    if (match) return props.iSeqNum;
  }
  return 0;
}

Variant TTxFbfrDSet::Lookup(const AnsiString& KeyFields, const Variant& KeyValues, const AnsiString& ResultFields) {
  if (!Locate(KeyFields, KeyValues, TLocateOptions())) return Null();
  return FieldValues(ResultFields);
}

// ---- Fields by name ----------------------------------------------------------------------

TField* TTxFbfrDSet::FieldNamedExactly(const AnsiString& FieldName) const noexcept {
  const std::string& wanted = FieldName.str();
  if (wanted.empty()) return nullptr;
  for (TField* field : FBoundFields) {
    const std::string& name = field->FieldName().str();
    if (name.size() == wanted.size() && name[0] == wanted[0] && std::memcmp(name.data(), wanted.data(), name.size()) == 0)
      return field;
  }
  return nullptr;
}

TField* TTxFbfrDSet::FindField(const AnsiString& FieldName) const {
  if (TField* field = FieldNamedExactly(FieldName)) return field;
  return TDataSet::FindField(FieldName);
}

TField* TTxFbfrDSet::FieldByName(const AnsiString& FieldName) const {
  if (TField* field = FieldNamedExactly(FieldName)) return field;
  return TDataSet::FieldByName(FieldName);
}

// ---- Fields by FML32 id ----------------------------------------------------------------------

TField* TTxFbfrDSet::FindFieldByTuxId(unsigned long Id) {
  TTxFbfr* fbfr = AssignedFbfr();
  if (!fbfr) return nullptr;
  const AnsiString name = fbfr->FindFieldName(Id);
  if (name.IsEmpty()) return nullptr;
  for (int i = 0; i < FieldCount(); ++i)
    if (Fields()->Fields(i)->FieldName() == name) return Fields()->Fields(i);
  return nullptr;
}

TField* TTxFbfrDSet::FieldByTuxId(unsigned long Id) {
  if (TField* field = FindFieldByTuxId(Id)) return field;
  const char* name = Fname32(static_cast<FLDID32>(Id));
  Ferror32 = 0;
  AnsiString message;
  message.sprintf("Nie znaleziono w TxFbfrDSet pola <%ld %s>", static_cast<long>(Id), name ? name : "");
  throw Exception(message);
}

unsigned long TTxFbfrDSet::TuxFldId(TField* Field) { return GetTxFbfr()->FindFieldId(Field->FieldName()); }

unsigned long TTxFbfrDSet::TuxFldId(TFieldDef* FieldDef) { return GetTxFbfr()->FindFieldId(FieldDef->Name()); }

TField* TTxFbfrDSet::tuxFindAssignSerialField() {
  TTxFbfrFldDef* def = FMti->tuxFindTxFldDef_WithAssignSerial();
  return def ? FindFieldByTuxId(static_cast<unsigned long>(def->GetTxFldId())) : nullptr;
}

// ---- Copying rows ----------------------------------------------------------------------------

void TTxFbfrDSet::AppendCurrentValues(TTxFbfr* Fbfr) {
  TTxFbfrDef* defs = Fbfr->GetFldDefs();
  for (int i = 0; i < defs->Count(); ++i) {
    TTxFbfrFldDef* def = defs->GetFldDef(i);
    TField* field = FindField(def->GetTxFldName());
    if (!field) continue;
    const auto id = static_cast<unsigned long>(def->GetTxFldId());
    if (def->GetLogicalType() == txlftDateTime && field->DataType() == ftDateTime && !field->IsNull())
      Fbfr->AppendOcc(id, Variant(DateTimeTextOf(field->AsDateTime())));
    else
      Fbfr->AppendOcc(id, field->Value());
  }
}

void TTxFbfrDSet::RefreshCurrentValues(TTxFbfr* Fbfr) {
  TTxFbfrDef* defs = Fbfr->GetFldDefs();
  for (int i = 0; i < defs->Count(); ++i) {
    const auto id = static_cast<unsigned long>(defs->GetFldDef(i)->GetTxFldId());
    TField* field = FindFieldByTuxId(id);
    if (!field || Fbfr->OccCount(id) < 1) continue;
    const Variant value = Fbfr->GetValues(id, 0);
    if (!VarIsNull(value) && field->DataType() == ftDateTime)
      field->SetValue(Variant(VarToStr(value).SubString(1, 19)));
    else
      field->SetValue(value);
  }
}

void TTxFbfrDSet::CopyRowFrom(TDataSet* Source) {
  for (int i = 0; i < Source->FieldCount(); ++i) {
    TField* from = Source->Fields()->Fields(i);
    if (TField* to = FindField(from->FieldName())) to->SetValue(from->Value());
  }
}

bool TTxFbfrDSet::AddRow(TDataSet* Source) {
  if (!Source || !Active() || !Source->Active() || Source->RecNo() == -1) return false;
  TControlsOff mine(this);
  TControlsOff theirs(Source);
  Append();
  CopyRowFrom(Source);
  Post();
  return true;
}

bool TTxFbfrDSet::UpdateRow(TDataSet* Source, const AnsiString& KeyFields, const Variant& KeyValues) {
  if (!Source || !Active() || !Source->Active()) return false;
  if (!Locate(KeyFields, KeyValues, TLocateOptions()) || !Source->Locate(KeyFields, KeyValues, TLocateOptions()))
    return false;
  TControlsOff mine(this);
  TControlsOff theirs(Source);
  Edit();
  CopyRowFrom(Source);
  Post();
  return true;
}

int TTxFbfrDSet::AddAllRows(TDataSet* Source) {
  if (!Source || Source == this || !Active() || !Source->Active()) return 0;
  struct TBookmarkHolder {
    TDataSet* DataSet;
    TBookmark Bookmark;
    ~TBookmarkHolder() {
      if (!Bookmark) return;
      try {
        DataSet->GotoBookmark(Bookmark);
      } catch (...) {
        // The rows were added; the source's position is the lesser loss.
      }
      DataSet->FreeBookmark(Bookmark);
    }
  } bookmark{Source, Source->GetBookmark()};
  TControlsOff mine(this);
  TControlsOff theirs(Source);
  int added = 0;
  Source->First();
  while (!Source->Eof()) {
    Append();
    CopyRowFrom(Source);
    Post();
    Source->Next();
    ++added;
  }
  return added;
}

// ---- TTxBlobStream ---------------------------------------------------------------------------

TTxBlobStream::TTxBlobStream(TBlobField* Field, TBlobStreamMode Mode)
    : FDataSet(static_cast<TTxFbfrDSet*>(Field->DataSet())), FField(Field), FMode(Mode) {
  if (!FDataSet->GetActiveRecBuf(FBuffer)) return;
  try {
    if (FDataSet->State() == dsFilter)
      DatabaseErrorFmt("Cannot access field \"%s\" in a filter", {FField->DisplayName()});
    if (!FField->Modified()) {
      DBIOpenMode openMode = dbiREADONLY;
      if (FMode != bmRead) {
        if (FField->ReadOnly()) DatabaseErrorFmt("Field \"%s\" is read-only", {FField->DisplayName()});
        if (!IsEditState(FDataSet->State())) DatabaseError("DataSet not in editing mode");
        openMode = dbiREADWRITE;
      }
      if (FDataSet->State() == dsBrowse) FDataSet->GetCurrentRecord(FBuffer);
      const DBIResult result =
          FDataSet->FMti->OpenBlob(FBuffer, static_cast<unsigned short>(FField->FieldNo()), openMode);
      if (result != DBIERR_BLOBOPENED) DbiCheck(result);
    }
  } catch (...) {
    OutputDebugStringA("1668");
    Application->HandleException(FDataSet);
  }
  FOpened = true;
  if (FMode == bmWrite) Truncate();
}

TTxBlobStream::~TTxBlobStream() {
  if (!FOpened) return;
  try {
    if (FModified) FField->SetModified(true);
    if (!FField->Modified()) FDataSet->FMti->FreeBlob(FBuffer, static_cast<unsigned short>(FField->FieldNo()));
    if (FModified) {
      try {
        FDataSet->DataEvent(deFieldChange, reinterpret_cast<long>(FField));
      } catch (...) {
        Application->HandleException(FDataSet);
      }
    }
  } catch (...) {
    // A destructor reports nothing further.
  }
}

int TTxBlobStream::GetBlobSize() {
  if (!FOpened) return 0;
  unsigned long size = 0;
  DbiCheck(FDataSet->FMti->GetBlobSize(FBuffer, static_cast<unsigned short>(FField->FieldNo()), size));
  return static_cast<int>(size);
}

int TTxBlobStream::Read(void* Buffer, int Count) {
  if (!FOpened || Count <= 0) return 0;
  unsigned long read = 0;
  const DBIResult result =
      FDataSet->FMti->GetBlob(FBuffer, static_cast<unsigned short>(FField->FieldNo()),
                              static_cast<unsigned long>(FPosition), static_cast<unsigned long>(Count), Buffer, read);
  switch (result) {
    case DBIERR_NONE:
    case DBIERR_ENDOFBLOB: FPosition += static_cast<int>(read); return static_cast<int>(read);
    case DBIERR_INVALIDBLOBOFFSET: return 0;
    default: DbiRaise(result);
  }
}

int TTxBlobStream::Write(const void* Buffer, int Count) {
  if (!FOpened || Count < 0) return 0;
  DbiCheck(FDataSet->FMti->PutBlob(FBuffer, static_cast<unsigned short>(FField->FieldNo()),
                                   static_cast<unsigned long>(FPosition), static_cast<unsigned long>(Count), Buffer));
  FPosition += Count;
  FModified = true;
  return Count;
}

int TTxBlobStream::Seek(int Offset, unsigned short Origin) {
  if (!FOpened) return 0;
  switch (Origin) {
    case soFromBeginning: FPosition = Offset; break;
    case soFromCurrent: FPosition += Offset; break;
    case soFromEnd: FPosition = GetBlobSize() + Offset; break;
    default: break;
  }
  const int size = GetBlobSize();
  if (FPosition > size) FPosition = size - 1;
  if (FPosition < 0) FPosition = 0;
  return FPosition;
}

std::int64_t TTxBlobStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  return Seek(static_cast<int>(static_cast<std::uint32_t>(Offset & 0xFFFFFFFF)), static_cast<unsigned short>(Origin));
}

void TTxBlobStream::Truncate() {
  if (!FOpened) return;
  DbiCheck(FDataSet->FMti->TruncateBlob(FBuffer, static_cast<unsigned short>(FField->FieldNo()),
                                        static_cast<unsigned long>(FPosition)));
  FModified = true;
}

void TTxBlobStream::SetSize(int NewSize) { TStream::SetSize(NewSize); }
void TTxBlobStream::SetSize(std::int64_t NewSize) { TStream::SetSize(NewSize); }

}  // namespace Tx
