// Field definitions, errors, native date encodings and the data set.
#include "platform/framework/Db.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/framework/Format.h"
#include "platform/framework/TextCompare.h"

namespace Tx {

using namespace DbConsts;

// ---- Errors ---------------------------------------------------------------------

void DatabaseError(const AnsiString& Message, TComponent* Component) {
  if (Component && !Component->Name().IsEmpty())
    throw EDatabaseError(Format("%s: %s", {Component->Name(), Message}));
  throw EDatabaseError(Message);
}

void DatabaseErrorFmt(const AnsiString& Pattern, std::initializer_list<TVarRec> Args,
                      TComponent* Component) {
  DatabaseError(Format(Pattern, Args), Component);
}

AnsiString FieldTypeName(TFieldType Type) {
  static const char* const names[] = {
      "Unknown", "String", "SmallInt", "Integer", "Word", "Boolean", "Float", "Currency",
      "BCD", "Date", "Time", "DateTime", "Bytes", "VarBytes", "AutoInc", "Blob", "Memo",
      "Graphic", "FmtMemo", "ParadoxOle", "dBaseOle", "TypedBinary", "Cursor", "FixedChar",
      "WideString", "Largeint", "ADT", "Array", "Reference", "DataSet", "OraBlob", "OraClob",
      "Variant", "Interface", "IDispatch", "Guid", "TimeStamp", "FMTBcd"};
  const auto i = static_cast<std::size_t>(Type);
  return i < sizeof names / sizeof names[0] ? AnsiString(names[i]) : AnsiString("Unknown");
}

// ---- Native date and time encodings ------------------------------------------------

DBIResult DbiDateEncode(unsigned short Mon, unsigned short Day, short Year, DBIDATE* Date) {
  const double serial = EncodeDate(Year, Mon, Day);
  *Date = static_cast<DBIDATE>(serial) + DateDelta;
  return 0;
}

DBIResult DbiTimeEncode(unsigned short Hour, unsigned short Min, unsigned short MilSec, TIME* Time) {
  EncodeTime(Hour, Min, MilSec / 1000, MilSec % 1000);  // validates the components
  *Time = (Hour * 3600 + Min * 60) * 1000 + MilSec;
  return 0;
}

DBIResult DbiTimeStampEncode(DBIDATE Date, TIME Time, TIMESTAMP* TimeStamp) {
  *TimeStamp = static_cast<double>(Date) * MSecsPerDay + Time;
  return 0;
}

TDateTimeRec DateTimeToNative(TFieldType DataType, TDateTime Value) {
  // Whole milliseconds first, so that 23:59:59.9996 becomes the next day.
  const double msecs = std::nearbyint(static_cast<double>(Value) * MSecsPerDay);
  constexpr double firstDay = -693594.0 * MSecsPerDay;  // 0001-01-01 00:00 is above it
  constexpr double afterLastDay = 2958466.0 * MSecsPerDay;  // 10000-01-01 00:00
  if (!(msecs > firstDay && msecs < afterLastDay))
    throw EConvertError(AnsiString("Invalid argument to date encode"));
  const auto total = static_cast<long long>(msecs);
  const long long day = total / MSecsPerDay + DateDelta;
  const auto time = static_cast<TIME>((total < 0 ? -total : total) % MSecsPerDay);
  TDateTimeRec rec{};
  switch (DataType) {
    case ftDate:
      rec.Date = static_cast<DBIDATE>(day);
      break;
    case ftTime:
      rec.Time = time;
      break;
    default:
      rec.DateTime = static_cast<double>(day) * MSecsPerDay + time;
  }
  return rec;
}

TDateTime NativeToDateTime(TFieldType DataType, const TDateTimeRec& Value) {
  long long day = 0;
  long long time = 0;
  switch (DataType) {
    case ftDate:
      day = Value.Date;
      break;
    case ftTime:
      time = Value.Time;
      if (time < 0 || time >= MSecsPerDay)
        throw EConvertError(SInvalidTimeStamp, {DateDelta, static_cast<int>(time)});
      return static_cast<double>(time) / MSecsPerDay;
    default: {
      if (!(Value.DateTime >= 0.0 && Value.DateTime < 3652060.0 * MSecsPerDay))
        throw EConvertError(SInvalidTimeStamp, {0, 0});
      const auto total = static_cast<long long>(Value.DateTime);
      day = total / MSecsPerDay;
      time = total % MSecsPerDay;
    }
  }
  if (day <= 0 || day > 3652059)
    throw EConvertError(SInvalidTimeStamp, {static_cast<int>(day), static_cast<int>(time)});
  const double serial = static_cast<double>(day - DateDelta);
  const double fraction = static_cast<double>(time) / MSecsPerDay;
  return serial < 0 ? serial - fraction : serial + fraction;
}

// ---- TFieldDef ------------------------------------------------------------------

TFieldDef::TFieldDef(TCollection* Collection) : TCollectionItem(Collection) {}

void TFieldDef::SetName(const AnsiString& Value) {
  FName = Value;
  Changed(false);
}

void TFieldDef::SetDataType(TFieldType Value) {
  FDataType = Value;
  Changed(false);
}

void TFieldDef::SetSize(int Value) {
  FSize = Value;
  Changed(false);
}

void TFieldDef::SetRequired(bool Value) {
  FRequired = Value;
  Changed(false);
}

void TFieldDef::SetPrecision(int Value) {
  FPrecision = Value;
  Changed(false);
}

TField* TFieldDef::CreateField(TComponent* Owner) {
  const auto* defs = dynamic_cast<const TFieldDefs*>(Collection());
  TDataSet* dataSet = defs ? defs->DataSet() : nullptr;
  TFieldClass fieldClass = dataSet ? dataSet->GetFieldClass(FDataType) : nullptr;
  if (!fieldClass) DatabaseErrorFmt(SUnknownFieldType, {FName}, dataSet);
  std::unique_ptr<TField> field(fieldClass(Owner));
  field->SetSize(FSize);
  field->SetFieldName(FName);
  field->SetRequired(FRequired);
  field->SetDataSet(dataSet);
  return field.release();
}

void TFieldDef::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TFieldDef*>(Source);
  if (!other) {
    TCollectionItem::Assign(Source);
    return;
  }
  FName = other->FName;
  FDataType = other->FDataType;
  FSize = other->FSize;
  FPrecision = other->FPrecision;
  FRequired = other->FRequired;
  Changed(false);
}

// ---- TFieldDefs -----------------------------------------------------------------

TFieldDefs::TFieldDefs(TPersistent* Owner)
    : TOwnedCollection(Owner, TCollectionItemClass::Of<TFieldDef>()) {}

TFieldDef* TFieldDefs::AddFieldDef() { return static_cast<TFieldDef*>(TCollection::Add()); }

TFieldDef* TFieldDefs::Add(const AnsiString& Name, TFieldType DataType, int Size, bool Required) {
  if (IndexOf(Name) >= 0) {
    const TPersistent* owner = GetOwner();
    const AnsiString ownerName = owner ? owner->GetNamePath() : AnsiString();
    throw EDatabaseError("Duplicate name '%s' in %s", {Name, ownerName});
  }
  BeginUpdate();
  TFieldDef* def = nullptr;
  try {
    def = AddFieldDef();
    def->SetName(Name);
    def->SetDataType(DataType);
    def->SetSize(Size);
    def->SetRequired(Required);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return def;
}

int TFieldDefs::IndexOf(const AnsiString& Name) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(Items(i)->Name(), Name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::FindDef(const AnsiString& Name) const {
  const int i = IndexOf(Name);
  return i < 0 ? nullptr : Items(i);
}

TFieldDef* TFieldDefs::Find(const AnsiString& Name) const {
  TFieldDef* def = FindDef(Name);
  if (!def) throw EDatabaseError("Field '%s' not found", {Name});
  return def;
}

void TFieldDefs::Update(TCollectionItem* /*Item*/) { FUpdated = false; }

void TFieldDefs::Update() {
  if (TDataSet* dataSet = DataSet()) dataSet->UpdateFieldDefs();
}

TDataSet* TFieldDefs::DataSet() const { return dynamic_cast<TDataSet*>(GetOwner()); }


// ---- TDataSet: construction ----------------------------------------------------

namespace {

bool IsEditMode(TDataSetState State) noexcept {
  return State == dsEdit || State == dsInsert || State == dsSetKey;
}

bool IsDateTimeType(TFieldType Type) noexcept {
  return Type == ftDate || Type == ftTime || Type == ftDateTime;
}

// Puts a member back however the scope is left.
template <class T>
class TRestoreValue {
 public:
  TRestoreValue(T& Target, T Value) : FTarget(Target), FOld(Target) { Target = Value; }
  ~TRestoreValue() { FTarget = FOld; }
  TRestoreValue(const TRestoreValue&) = delete;
  TRestoreValue& operator=(const TRestoreValue&) = delete;

 private:
  T& FTarget;
  T FOld;
};

// The ';'-separated names of a field list, blanks around each name dropped.
std::vector<AnsiString> SplitFieldNames(const AnsiString& Names) {
  std::vector<AnsiString> result;
  int start = 1;
  for (int i = 1; i <= Names.Length() + 1; ++i) {
    if (i > Names.Length() || Names[i] == ';') {
      const AnsiString name = Names.SubString(start, i - start).Trim();
      if (!name.IsEmpty()) result.push_back(name);
      start = i + 1;
    }
  }
  return result;
}

}  // namespace

TDataSet::TDataSet(TComponent* AOwner)
    : TComponent(AOwner),
      FFields(std::make_unique<TFields>(this)),
      FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  while (!FDataSources.empty()) FDataSources.back()->SetDataSet(nullptr);
  // Fields this data set owns go with it; others only forget it.
  std::vector<TField*> fields;
  for (int i = 0; i < FFields->Count(); ++i) fields.push_back(FFields->Fields(i));
  for (TField* field : fields) {
    if (field->Owner() == this) {
      delete field;
    } else {
      field->FDataSet = nullptr;
      FFields->Remove(field);
    }
  }
}

// ---- TDataSet: opening and closing ------------------------------------------------

void TDataSet::SetActive(bool Value) {
  if (ComponentState().Contains(csReading)) {
    FStreamedActive = Value;
    return;
  }
  if (Active() == Value) return;
  if (Value) {
    DoBeforeOpen();
    FInternalOpenComplete = false;
    try {
      OpenCursor(false);
    } catch (...) {
      FInternalOpenComplete = false;
      try {
        CloseCursor();
      } catch (...) {
        // The open failure is the one to report.
      }
      throw;
    }
    OpenCursorComplete();
  } else {
    const bool destroying = ComponentState().Contains(csDestroying);
    if (!destroying) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (!destroying) DoAfterClose();
  }
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!FStreamedActive) return;
  try {
    SetActive(true);
  } catch (...) {
    if (!ComponentState().Contains(csDesigning)) throw;
    InternalHandleException();
  }
}

void TDataSet::FreeFieldBuffers() {
  for (int i = 0; i < FieldCount(); ++i) FFields->Fields(i)->FreeBuffers();
}

void TDataSet::OpenCursorComplete() {
  if (!FInternalOpenComplete) {
    CloseCursor();
    return;
  }
  SetState(dsBrowse);
  DoAfterOpen();
  if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::OpenCursor(bool InfoQuery) {
  if (InfoQuery)
    InternalInitFieldDefs();
  else if (FState != dsOpening)
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  FDefaultFields = FieldCount() == 0;
  InternalOpen();
  FInternalOpenComplete = true;
  ClearBuffers();
  UpdateBufferCount();
  FBOF = true;
}

void TDataSet::CloseCursor() {
  FInternalOpenComplete = false;
  FreeFieldBuffers();
  ClearBuffers();
  SetBufListSize(0);
  FBufferCount = 0;
  InternalClose();
}

void TDataSet::CheckActive() const {
  if (FState == dsInactive) DatabaseError(SDataSetClosed, const_cast<TDataSet*>(this));
}

void TDataSet::CheckInactive() const {
  if (FState != dsInactive) DatabaseError(SDataSetOpen, const_cast<TDataSet*>(this));
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (FState) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (FModified)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateFieldDefs() {
  if (FFieldDefs->Updated()) return;
  DisableControls();
  try {
    if (IsCursorOpen()) {
      InternalInitFieldDefs();
    } else {
      OpenCursor(true);
      CloseCursor();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
  FFieldDefs->SetUpdated(true);
}

void TDataSet::SetState(TDataSetState Value) {
  if (FState == Value) return;
  FState = Value;
  FModified = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState Value) {
  const TDataSetState old = FState;
  FState = Value;
  ++FDisableCount;
  return old;
}

void TDataSet::RestoreState(TDataSetState Value) {
  FState = Value;
  if (FDisableCount > 0) --FDisableCount;
}

// ---- TDataSet: the buffer ring -----------------------------------------------------

char* TDataSet::ActiveBuffer() const noexcept {
  return FBuffers.empty() ? nullptr : FBuffers[static_cast<std::size_t>(FActiveRecord)];
}

void TDataSet::SetBufListSize(int Value) {
  const auto size = static_cast<std::size_t>(Value < 0 ? 0 : Value);
  while (FBuffers.size() > size) {
    char* buffer = FBuffers.back();
    FBuffers.pop_back();
    FreeRecordBuffer(buffer);
  }
  FBuffers.reserve(size);
  while (FBuffers.size() < size) FBuffers.push_back(AllocRecordBuffer());
}

void TDataSet::SetBufferCount(int Value) {
  constexpr int maxBufferCount = 1024;
  Value = std::clamp(Value, 1, maxBufferCount);
  if (Value == FBufferCount) return;
  if (Value > FBufferCount) {
    SetBufListSize(Value + 1);
    FBufferCount = Value;
    if (FInternalOpenComplete) {
      GetNextRecords();
      AdjustLinkFirstRecords(GetPriorRecords());
    }
    return;
  }
  if (FRecordCount > Value) {
    // Keep the window of Value records that still holds the active one.
    const int drop = std::max(0, FActiveRecord - (Value - 1));
    if (drop > 0) {
      std::rotate(FBuffers.begin(), FBuffers.begin() + drop, FBuffers.begin() + FRecordCount);
      FActiveRecord -= drop;
      AdjustLinkFirstRecords(-drop);
    }
    FRecordCount = std::min(FRecordCount - drop, Value);
    CursorPosChanged();
  }
  SetBufListSize(Value + 1);
  FBufferCount = Value;
}

void TDataSet::UpdateBufferCount() {
  if (!FInternalOpenComplete) return;
  int count = 1;
  std::vector<TDataLink*> links;
  CollectDataLinks(links);
  for (const TDataLink* link : links) count = std::max(count, link->FBufferCount);
  SetBufferCount(count);
}

void TDataSet::CollectDataLinks(std::vector<TDataLink*>& Links) const {
  for (const TDataSource* source : FDataSources)
    Links.insert(Links.end(), source->FDataLinks.begin(), source->FDataLinks.end());
}

void TDataSet::AdjustLinkFirstRecords(int Delta) {
  if (Delta == 0) return;
  std::vector<TDataLink*> links;
  CollectDataLinks(links);
  for (TDataLink* link : links)
    if (link->FActive) link->FFirstRecord = std::max(0, link->FFirstRecord + Delta);
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  const auto first = FBuffers.begin();
  if (CurIndex < NewIndex)
    std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
  else
    std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
}

void TDataSet::ClearBuffers() {
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = true;
  FEOF = true;
}

void TDataSet::ActivateBuffers() {
  FRecordCount = 1;
  FActiveRecord = 0;
  FCurrentRecord = 0;
  FBOF = false;
  FEOF = false;
}

void TDataSet::SetCurrentRecord(int Index) {
  if (FCurrentRecord == Index) return;
  char* buffer = FBuffers[static_cast<std::size_t>(Index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  FCurrentRecord = Index;
}

void TDataSet::UpdateCursorPos() {
  if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (FRecordCount > 0) {
    SetCurrentRecord(FRecordCount - 1);
    if (FState == dsInsert && FCurrentRecord == FActiveRecord &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  const bool read = GetRecord(FBuffers[static_cast<std::size_t>(FRecordCount)], mode, true) == grOK;
  if (!read) {
    CursorPosChanged();
    return false;
  }
  if (FRecordCount == 0)
    ActivateBuffers();
  else if (FRecordCount < FBufferCount)
    ++FRecordCount;
  else
    MoveBuffer(0, FRecordCount);
  FCurrentRecord = FRecordCount - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (FRecordCount > 0) SetCurrentRecord(0);
  const bool read = GetRecord(FBuffers[static_cast<std::size_t>(FRecordCount)], gmPrior, true) == grOK;
  if (!read) {
    CursorPosChanged();
    return false;
  }
  if (FRecordCount == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(FRecordCount, 0);
    if (FRecordCount < FBufferCount) {
      ++FRecordCount;
      ++FActiveRecord;
    }
  }
  FCurrentRecord = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (FRecordCount < FBufferCount && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (FRecordCount < FBufferCount && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::Resync(TResyncMode Mode) {
  char* spare = FBuffers[static_cast<std::size_t>(FRecordCount)];
  if (Mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError(SRecordNotFound, this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
             GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int before = Mode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
  MoveBuffer(FRecordCount, 0);
  ActivateBuffers();
  try {
    while (before > 0 && GetPriorRecord()) --before;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
  FireEvent(BeforeRefresh);
  CheckBrowseMode();
  UpdateCursorPos();
  try {
    InternalRefresh();
  } catch (...) {
    Resync({});
    throw;
  }
  Resync({});
  FireEvent(AfterRefresh);
}

// ---- TDataSet: navigation ----------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  auto finish = [this] {
    FBOF = true;
    DataEvent(deDataSetChange, 0);
  };
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    finish();
    throw;
  }
  finish();
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  auto finish = [this] {
    FEOF = true;
    DataEvent(deDataSetChange, 0);
  };
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    finish();
    throw;
  }
  finish();
  DoAfterScroll();
}

int TDataSet::MoveBy(int Distance) {
  CheckBrowseMode();
  DoBeforeScroll();
  int moved = 0;
  if (!((Distance > 0 && !FEOF) || (Distance < 0 && !FBOF))) return 0;
  FBOF = false;
  FEOF = false;
  const int oldRecordCount = FRecordCount;
  int scroll = 0;  // how far the buffered records moved in the ring
  auto finish = [&] {
    if (FRecordCount != oldRecordCount)
      DataEvent(deDataSetChange, 0);
    else
      DataEvent(deDataSetScroll, scroll);
  };
  try {
    for (; Distance > 0; --Distance, ++moved) {
      if (FActiveRecord < FRecordCount - 1) {
        ++FActiveRecord;
        continue;
      }
      const bool full = FRecordCount >= FBufferCount;
      if (!GetNextRecord()) {
        FEOF = true;
        break;
      }
      if (full) --scroll;
      FActiveRecord = FRecordCount - 1;
    }
    for (; Distance < 0; ++Distance, --moved) {
      if (FActiveRecord > 0) {
        --FActiveRecord;
        continue;
      }
      const bool full = FRecordCount >= FBufferCount;
      if (!GetPriorRecord()) {
        FBOF = true;
        break;
      }
      if (full) ++scroll;
      FActiveRecord = 0;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  DoAfterScroll();
  return moved;
}

// ---- TDataSet: editing ---------------------------------------------------------------

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(SDataSetReadOnly, this);
}

void TDataSet::CheckOperation(TDataOperation Operation, const TDataSetErrorEvent& ErrorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*Operation)();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (ErrorEvent) ErrorEvent(this, &e, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

void TDataSet::Edit() {
  if (FState == dsEdit || FState == dsInsert) return;
  if (FRecordCount == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  FireEvent(BeforeEdit);
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  FireEvent(AfterEdit);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  FireEvent(BeforeInsert);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    throw;
  }
  FModified = false;
  DataEvent(deDataSetChange, 0);
  FireEvent(AfterInsert);
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const TBookmarkStr oldCurrent = Bookmark();
  MoveBuffer(FRecordCount, FActiveRecord);
  CursorPosChanged();
  char* buffer = ActiveBuffer();
  InitRecord(buffer);
  if (FRecordCount == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else if (oldCurrent.Length() >= FBookmarkSize && FBookmarkSize > 0)
    SetBookmarkData(buffer, const_cast<char*>(oldCurrent.data()));
  if (FRecordCount < FBufferCount) ++FRecordCount;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  char* buffer = FBuffers[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  FRecordCount = 1;
  FBOF = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(FState)) DatabaseError(SNotEditing, this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::Post() {
  UpdateRecord();
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  FireEvent(BeforePost);
  CheckOperation(&TDataSet::InternalPost, OnPostError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  FireEvent(AfterPost);
}

void TDataSet::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  FireEvent(BeforeCancel);
  const bool scrolls = FState == dsInsert;
  if (scrolls) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  FireEvent(AfterCancel);
  if (scrolls) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == dsInsert || FState == dsSetKey) {
    Cancel();
    return;
  }
  if (FRecordCount == 0) DatabaseError(SDataSetEmpty, this);
  DataEvent(deCheckBrowseMode, 0);
  FireEvent(BeforeDelete);
  DoBeforeScroll();
  CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  FireEvent(AfterDelete);
  DoAfterScroll();
}

void TDataSet::SetRecordValues(std::initializer_list<Variant> Values) {
  int i = 0;
  for (const Variant& value : Values) {
    if (i >= FieldCount()) break;
    TField* field = FFields->Fields(i++);
    if (field->FieldKind() != fkData || value.IsEmpty()) continue;
    if (value.IsNull())
      field->Clear();
    else
      field->SetValue(value);
  }
}

void TDataSet::AddRecord(std::initializer_list<Variant> Values, bool Append) {
  BeginInsertAppend();
  if (!Append) UpdateCursorPos();
  DisableControls();
  struct Enable {
    TDataSet* Self;
    ~Enable() { Self->EnableControls(); }
  } enable{this};
  MoveBuffer(FRecordCount, FActiveRecord);
  try {
    char* buffer = ActiveBuffer();
    InitRecord(buffer);
    FState = dsInsert;
    try {
      DoOnNewRecord();
      FireEvent(AfterInsert);
      SetRecordValues(Values);
      FireEvent(BeforePost);
      InternalAddRecord(buffer, Append);
    } catch (...) {
      FreeFieldBuffers();
      FState = dsBrowse;
      FModified = false;
      throw;
    }
    FreeFieldBuffers();
    FState = dsBrowse;
    FModified = false;
  } catch (...) {
    MoveBuffer(FActiveRecord, FRecordCount);
    throw;
  }
  MoveBuffer(FActiveRecord, FRecordCount);
  Resync({});
  FireEvent(AfterPost);
  DoAfterScroll();
}

void TDataSet::AppendRecord(std::initializer_list<Variant> Values) { AddRecord(Values, true); }
void TDataSet::InsertRecord(std::initializer_list<Variant> Values) { AddRecord(Values, false); }

void TDataSet::ClearFields() {
  if (!IsEditMode(FState)) DatabaseError(SNotEditing, this);
  DataEvent(deCheckBrowseMode, 0);
  FreeFieldBuffers();
  InternalInitRecord(ActiveBuffer());
  if (FState != dsSetKey) GetCalcFields(ActiveBuffer());
  DataEvent(deRecordChange, 0);
}

void TDataSet::CheckRequiredFields() {
  for (int i = 0; i < FieldCount(); ++i) {
    TField* field = FFields->Fields(i);
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == fkData && field->IsNull()) {
      field->FocusControl();
      DatabaseErrorFmt(SFieldRequired, {field->DisplayName()});
    }
  }
}

// ---- TDataSet: fields ------------------------------------------------------------------

void TDataSet::GetFieldList(std::vector<TField*>& List, const AnsiString& FieldNames) const {
  for (const AnsiString& name : SplitFieldNames(FieldNames)) List.push_back(FieldByName(name));
}

Variant TDataSet::FieldValues(const AnsiString& FieldName) const {
  if (FieldName.Pos(";") == 0) return FieldByName(FieldName)->Value();
  std::vector<TField*> fields;
  GetFieldList(fields, FieldName);
  Variant values = VarArrayCreate({0, static_cast<int>(fields.size()) - 1}, varVariant);
  for (std::size_t i = 0; i < fields.size(); ++i) values.PutElement(fields[i]->Value(), static_cast<int>(i));
  return values;
}

void TDataSet::SetFieldValues(const AnsiString& FieldName, const Variant& Value) {
  if (FieldName.Pos(";") == 0) {
    FieldByName(FieldName)->SetValue(Value);
    return;
  }
  std::vector<TField*> fields;
  GetFieldList(fields, FieldName);
  const int low = VarArrayLowBound(Value, 1);
  for (std::size_t i = 0; i < fields.size(); ++i)
    fields[i]->SetValue(Value.GetElement(low + static_cast<int>(i)));
}

TFieldClass TDataSet::GetFieldClass(TFieldType FieldType) {
  switch (FieldType) {
    case ftString: return &TFieldClassOf<TStringField>;
    case ftSmallint: return &TFieldClassOf<TSmallintField>;
    case ftInteger: return &TFieldClassOf<TIntegerField>;
    case ftFloat: return &TFieldClassOf<TFloatField>;
    case ftDate: return &TFieldClassOf<TDateField>;
    case ftTime: return &TFieldClassOf<TTimeField>;
    case ftDateTime: return &TFieldClassOf<TDateTimeField>;
    case ftBlob: return &TFieldClassOf<TBlobField>;
    case ftMemo: return &TFieldClassOf<TMemoField>;
    case ftGraphic: return &TFieldClassOf<TGraphicField>;
    default: return nullptr;
  }
}

void TDataSet::CreateFields() {
  for (int i = 0; i < FFieldDefs->Count(); ++i) {
    TFieldDef* def = FFieldDefs->Items(i);
    if (def->DataType() != ftUnknown) def->CreateField(this);
  }
}

void TDataSet::DestroyFields() { FFields->Clear(); }

void TDataSet::BindFields(bool Binding) {
  FCalcFieldsSize = 0;
  FBlobFieldCount = 0;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* field = FFields->Fields(i);
    if (!Binding) {
      field->FFieldNo = 0;
      field->FOffset = 0;
      continue;
    }
    if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
      field->FFieldNo = -1;
      field->FOffset = FCalcFieldsSize;
      FCalcFieldsSize += field->DataSize() + 1;
      continue;
    }
    const TFieldDef* def = FFieldDefs->FindDef(field->FieldName());
    if (!def) DatabaseErrorFmt(SFieldNotFound, {field->DisplayName()}, this);
    if (def->DataType() != field->DataType())
      DatabaseErrorFmt(SFieldTypeMismatch, {field->DisplayName(), FieldTypeName(field->DataType()),
                                            FieldTypeName(def->DataType())}, this);
    if (field->DataType() == ftString && def->Size() != field->Size())
      DatabaseErrorFmt(SFieldSizeMismatch, {field->DisplayName(), field->Size(), def->Size()}, this);
    field->FFieldNo = def->FieldNo();
    if (field->IsBlob()) field->FOffset = FBlobFieldCount++;
  }
}

// ---- TDataSet: calculated fields -------------------------------------------------------

void TDataSet::GetCalcFields(char* Buffer) {
  if (FCalcFieldsSize == 0) return;
  TRestoreValue<TDataSetState> state(FState, dsCalcFields);
  CalculateFields(Buffer);
}

void TDataSet::CalculateFields(char* Buffer) {
  FCalcBuffer = Buffer;
  if (FState != dsInternalCalc) ClearCalcFields(Buffer);
  DoOnCalcFields();
}

// ---- TDataSet: field data --------------------------------------------------------------

bool TDataSet::GetFieldData(TField* /*Field*/, void* /*Buffer*/) { return false; }

bool TDataSet::GetFieldData(int FieldNo, void* Buffer) {
  TField* field = FieldByNumber(FieldNo);
  return field ? GetFieldData(field, Buffer) : false;
}

bool TDataSet::GetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
  if (NativeFormat || !IsDateTimeType(Field->DataType())) return GetFieldData(Field, Buffer);
  TDateTimeRec native{};
  const bool present = GetFieldData(Field, Buffer ? &native : nullptr);
  if (present && Buffer) DataConvert(Field, &native, Buffer, false);
  return present;
}

void TDataSet::SetFieldData(TField* /*Field*/, void* /*Buffer*/) {}

void TDataSet::SetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
  if (NativeFormat || !Buffer || !IsDateTimeType(Field->DataType())) {
    SetFieldData(Field, Buffer);
    return;
  }
  TDateTimeRec native{};
  DataConvert(Field, Buffer, &native, true);
  SetFieldData(Field, &native);
}

void TDataSet::DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
  const TFieldType type = Field->DataType();
  const std::size_t nativeSize = type == ftDateTime ? sizeof(TIMESTAMP) : sizeof(DBIDATE);
  if (ToNative) {
    double value = 0.0;
    std::memcpy(&value, Source, sizeof value);
    const TDateTimeRec rec = DateTimeToNative(type, value);
    std::memcpy(Dest, &rec, nativeSize);
  } else {
    TDateTimeRec rec{};
    std::memcpy(&rec, Source, nativeSize);
    const double value = NativeToDateTime(type, rec);
    std::memcpy(Dest, &value, sizeof value);
  }
}

TStream* TDataSet::CreateBlobStream(TField* /*Field*/, TBlobStreamMode /*Mode*/) { return nullptr; }
bool TDataSet::GetCurrentRecord(char* /*Buffer*/) { return false; }
bool TDataSet::IsSequenced() { return true; }

// ---- TDataSet: default descendant operations -----------------------------------------

char* TDataSet::AllocRecordBuffer() { return nullptr; }
void TDataSet::FreeRecordBuffer(char*& Buffer) { Buffer = nullptr; }
unsigned short TDataSet::GetRecordSize() { return 0; }
void TDataSet::InternalInitRecord(char* /*Buffer*/) {}

void TDataSet::InitRecord(char* Buffer) {
  InternalInitRecord(Buffer);
  ClearCalcFields(Buffer);
  SetBookmarkFlag(Buffer, bfInserted);
}

void TDataSet::ClearCalcFields(char* /*Buffer*/) {}
void TDataSet::InternalFirst() {}
void TDataSet::InternalLast() {}
void TDataSet::InternalGotoBookmark(void* /*Bookmark*/) {}
void TDataSet::InternalSetToRecord(char* /*Buffer*/) {}
void TDataSet::GetBookmarkData(char* /*Buffer*/, void* /*Data*/) {}
void TDataSet::SetBookmarkData(char* /*Buffer*/, void* /*Data*/) {}
TBookmarkFlag TDataSet::GetBookmarkFlag(char* /*Buffer*/) { return bfCurrent; }
void TDataSet::SetBookmarkFlag(char* /*Buffer*/, TBookmarkFlag /*Value*/) {}
int TDataSet::GetRecordCount() { return -1; }
int TDataSet::GetRecNo() { return -1; }
void TDataSet::SetRecNo(int /*Value*/) {}
void TDataSet::InternalEdit() {}
void TDataSet::InternalPost() { CheckRequiredFields(); }
void TDataSet::InternalDelete() {}
void TDataSet::InternalCancel() {}
void TDataSet::InternalInsert() {}
void TDataSet::InternalAddRecord(void* /*Buffer*/, bool /*Append*/) {}
void TDataSet::InternalRefresh() {}
bool TDataSet::GetCanModify() { return true; }
void TDataSet::CloseBlob(TField* /*Field*/) {}

// ---- TDataSet: events ----------------------------------------------------------------

void TDataSet::DoBeforeOpen() { FireEvent(BeforeOpen); }
void TDataSet::DoAfterOpen() { FireEvent(AfterOpen); }
void TDataSet::DoBeforeClose() { FireEvent(BeforeClose); }
void TDataSet::DoAfterClose() { FireEvent(AfterClose); }
void TDataSet::DoBeforeScroll() { FireEvent(BeforeScroll); }
void TDataSet::DoAfterScroll() { FireEvent(AfterScroll); }
void TDataSet::DoOnCalcFields() { FireEvent(OnCalcFields); }
void TDataSet::DoOnNewRecord() { FireEvent(OnNewRecord); }

// ---- TDataSet: bookmarks ----------------------------------------------------------------

bool TDataSet::BookmarkAvailable() {
  return (FState == dsBrowse || FState == dsEdit || FState == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable()) return nullptr;
  auto bookmark = std::make_unique<char[]>(static_cast<std::size_t>(std::max(FBookmarkSize, 1)));
  GetBookmarkData(ActiveBuffer(), bookmark.get());
  return bookmark.release();
}

void TDataSet::FreeBookmark(TBookmark Bookmark) { delete[] static_cast<char*>(Bookmark); }

void TDataSet::GotoBookmark(TBookmark Bookmark) {
  if (!Bookmark) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(Bookmark);
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

TBookmarkStr TDataSet::Bookmark() {
  if (!BookmarkAvailable() || FBookmarkSize <= 0) return TBookmarkStr();
  TBookmarkStr bookmark;
  bookmark.SetLength(FBookmarkSize);
  GetBookmarkData(ActiveBuffer(), &bookmark[1]);
  return bookmark;
}

void TDataSet::SetBookmark(const TBookmarkStr& Value) {
  if (Value.IsEmpty()) return;
  GotoBookmark(const_cast<char*>(Value.data()));
}

bool TDataSet::BookmarkValid(TBookmark /*Bookmark*/) { return false; }
int TDataSet::CompareBookmarks(TBookmark /*Bookmark1*/, TBookmark /*Bookmark2*/) { return 0; }

// ---- TDataSet: search ----------------------------------------------------------------------

bool TDataSet::RecordMatches(const std::vector<TField*>& Fields, const Variant& KeyValues,
                             TLocateOptions Options) const {
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    const Variant value = Fields.size() == 1 && !KeyValues.IsArray()
                              ? KeyValues
                              : KeyValues.GetElement(VarArrayLowBound(KeyValues, 1) + static_cast<int>(i));
    const TField* field = Fields[i];
    if (value.IsNull() || value.IsEmpty()) {
      if (!field->IsNull()) return false;
      continue;
    }
    if (field->IsNull()) return false;
    if (field->DataType() == ftString || field->DataType() == ftMemo) {
      AnsiString fieldText = field->AsString();
      AnsiString keyText = VarToStr(value);
      if (Options.Contains(loPartialKey) && fieldText.Length() > keyText.Length())
        fieldText = fieldText.SubString(1, keyText.Length());
      if (Options.Contains(loCaseInsensitive)) {
        fieldText = AnsiUpperCase(fieldText);
        keyText = AnsiUpperCase(keyText);
      }
      if (fieldText != keyText) return false;
    } else if (!(field->Value() == value)) {
      return false;
    }
  }
  return true;
}

// Both searches read the records with the cursor into the spare buffer, in
// the calc-fields state so that the fields see that buffer; the buffers the
// controls show are not touched until a record is found.
bool TDataSet::Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  CheckBrowseMode();
  std::vector<TField*> fields;
  GetFieldList(fields, KeyFields);
  CursorPosChanged();
  char* scan = FBuffers[static_cast<std::size_t>(FRecordCount)];
  bool found = false;
  {
    const TDataSetState saved = SetTempState(dsCalcFields);
    struct Restore {
      TDataSet* Self;
      TDataSetState State;
      ~Restore() { Self->RestoreState(State); }
    } restore{this, saved};
    InternalFirst();
    while (!found && GetRecord(scan, gmNext, true) == grOK) {
      FCalcBuffer = scan;
      found = RecordMatches(fields, KeyValues, Options);
    }
  }
  if (found) {
    DoBeforeScroll();
    Resync({rmExact, rmCenter});
    DoAfterScroll();
  }
  return found;
}

Variant TDataSet::Lookup(const AnsiString& KeyFields, const Variant& KeyValues,
                         const AnsiString& ResultFields) {
  CheckBrowseMode();
  std::vector<TField*> fields;
  GetFieldList(fields, KeyFields);
  std::vector<TField*> results;
  GetFieldList(results, ResultFields);
  CursorPosChanged();
  char* scan = FBuffers[static_cast<std::size_t>(FRecordCount)];
  const TDataSetState saved = SetTempState(dsCalcFields);
  struct Restore {
    TDataSet* Self;
    TDataSetState State;
    ~Restore() { Self->RestoreState(State); }
  } restore{this, saved};
  InternalFirst();
  while (GetRecord(scan, gmNext, true) == grOK) {
    FCalcBuffer = scan;
    if (!RecordMatches(fields, KeyValues, TLocateOptions())) continue;
    if (results.size() == 1) return results[0]->Value();
    Variant values = VarArrayCreate({0, static_cast<int>(results.size()) - 1}, varVariant);
    for (std::size_t i = 0; i < results.size(); ++i)
      values.PutElement(results[i]->Value(), static_cast<int>(i));
    return values;
  }
  return Null();
}

// ---- TDataSet: filter ---------------------------------------------------------------------

void TDataSet::SetFiltered(bool Value) {
  if (!Active()) {
    FFiltered = Value;
    return;
  }
  CheckBrowseMode();
  if (FFiltered == Value) return;
  FFiltered = Value;
  First();
}

void TDataSet::SetOnFilterRecord(const TFilterRecordEvent& Value) {
  if (!Active()) {
    FOnFilterRecord = Value;
    return;
  }
  CheckBrowseMode();
  FOnFilterRecord = Value;
  if (FFiltered) First();
}

// ---- TDataSet: controls and events ----------------------------------------------------------

void TDataSet::DisableControls() {
  if (FDisableCount == 0) {
    FDisableState = FState;
    FEnableEvent = deDataSetChange;
  }
  ++FDisableCount;
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0) return;
  if (--FDisableCount != 0) return;
  if (FDisableState != FState) DataEvent(deUpdateState, 0);
  if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
}

void TDataSet::DataEvent(TDataEvent Event, long Info) {
  switch (Event) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(Info);
      if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) FModified = true;
      if (FState != dsSetKey) {
        if (FCalcFieldsSize != 0 && FAutoCalcFields && field->FieldKind() == fkData)
          CalculateFields(ActiveBuffer());
        field->Change();
      }
      break;
    }
    case dePropertyChange:
      FFieldDefs->SetUpdated(false);
      break;
    default:
      break;
  }
  if (ControlsDisabled()) {
    if ((Event == deUpdateState && FState == dsInactive) || Event == deLayoutChange)
      FEnableEvent = deLayoutChange;
    return;
  }
  const std::vector<TDataSource*> sources = FDataSources;
  for (TDataSource* source : sources) source->DataEvent(Event, Info);
}

void TDataSet::AddDataSource(TDataSource* Source) {
  FDataSources.push_back(Source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* Source) noexcept {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), Source), FDataSources.end());
}

}  // namespace Tx
